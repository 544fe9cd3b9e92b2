#pragma once
#include <array>
#include <stdexcept>

// A fixed array addressed by the index range the tool uses (1..128 for addresses, 0..15 for
// panel rows...), read as A(n).
template <typename T, int Lo, int Hi> class Indexed {
  public:
    static constexpr int Lower = Lo;
    static constexpr int Upper = Hi;
    T& operator()(int i) { return items_.at(slot(i)); }
    const T& operator()(int i) const { return items_.at(slot(i)); }
    static constexpr bool contains(int i) { return i >= Lo && i <= Hi; }
    void fill(const T& v) { items_.fill(v); }
    auto begin() { return items_.begin(); }
    auto end() { return items_.end(); }

  private:
    static std::size_t slot(int i) {
        if (!contains(i)) throw std::out_of_range("index outside the array's bounds");
        return static_cast<std::size_t>(i - Lo);
    }
    std::array<T, Hi - Lo + 1> items_{};
};
