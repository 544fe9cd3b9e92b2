#pragma once
#include <cstdint>

// The tool's flags are 16-bit integers where True is -1 (all bits set) and False is 0;
// anything that looks at the raw value sees exactly that.
class Flag16 {
  public:
    constexpr Flag16(bool b = false) : v_(b ? -1 : 0) {}
    constexpr operator bool() const { return v_ != 0; }
    constexpr int16_t raw() const { return v_; }

  private:
    int16_t v_;
};
