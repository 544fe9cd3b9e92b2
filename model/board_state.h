#pragma once
#include <QObject>
#include <cstdint>

// What the tool knows of the interface board, written from its replies: whether it answers, its
// firmware version, whether the loop is short-circuited. The presenter shows it on the interface
// panel; the report and the command line read it here.
class Board_State : public QObject {
    Q_OBJECT
  public:
    enum class Fact { Answering, Version, Short_Circuit };

    bool answering() const { return answering_; }
    // The version byte read (0x31 shows as 3.1), or -1 until it is read.
    int version() const { return version_; }
    bool short_circuit() const { return short_circuit_; }

    // Moves on whenever the tool may have lost sight of the board it searched: a port opened, a
    // lost port back, a declared disconnection. What was read under an older stamp may now belong
    // to another board. Nobody is told: it is compared, not shown.
    uint32_t sight() const { return sight_; }
    void lost_sight() { ++sight_; }

    // Each setter tells the presenter, even when the value stays: what it shows is set again.
    void set_answering(bool on);
    void set_version(int byte);
    void set_short_circuit(bool on);

  signals:
    void changed(Board_State::Fact fact);

  private:
    bool answering_ = false;
    int version_ = -1;
    bool short_circuit_ = false;
    uint32_t sight_ = 0;
};
