#pragma once
#include <QObject>

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
};
