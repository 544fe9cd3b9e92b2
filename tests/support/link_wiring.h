#pragma once
#include "app/link_events.h"
#include "model/tool.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>

class Harness;
namespace loopsim {
class Board;
}

// Wires the events, opens the port and stops the task tick, so only the test talks on the line.
void Open_Quiet(Harness& h);

// Every byte the board receives, with the time it came, counted from construction.
class Line_Clock {
  public:
    explicit Line_Clock(loopsim::Board& board);
    struct Byte {
        quint8 value;
        qint64 ms;
    };
    QList<Byte> bytes;
    qint64 gap_before(int i) const { return bytes.at(i).ms - bytes.at(i - 1).ms; }

  private:
    QElapsedTimer clock_;
    QObject context_;
};

// Bytes written out as a wire constant: bytes({0x41, 0x82, 0x05, 0x03}).
QByteArray bytes(std::initializer_list<int> values);
