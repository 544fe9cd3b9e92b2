#pragma once
// Helpers shared by the tests and benchmarks of the address search and the detector readout.
#include "support/harness.h"
#include "support/link_wiring.h"

#include <QElapsedTimer>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <initializer_list>
#include <memory>
#include <utility>

// The conversation on the line as one text: a two-digit hex token per byte the board received,
// in order, and "P" where one of the tool's paced pauses ended. Comparing the whole text checks
// every byte and every pause at once.
class Wire_Log {
  public:
    explicit Wire_Log(Harness& h) : h_(h) {
        QObject::connect(&h.board, &loopsim::Board::byte_received, &context_, [this](quint8 b) {
            tokens_ << QStringLiteral("%1").arg(b, 2, 16, QLatin1Char('0'));
            if (on_byte) on_byte(b);
        });
        QObject::connect(&h.t.F.Tempo, &QTimer::timeout, &context_,
                         [this] { tokens_ << QStringLiteral("P"); });
    }

    void clear() {
        tokens_.clear();
        h_.board.clear_traffic();
    }
    QString text() const { return tokens_.join(QLatin1Char(' ')); }
    // The bytes alone, as the board's own record of them should read.
    QString bytes() const {
        QStringList b = tokens_;
        b.removeAll(QStringLiteral("P"));
        return b.join(QLatin1Char(' '));
    }
    QString board_bytes() const { return QString::fromLatin1(h_.board.received().toHex(' ')); }

    // Runs for every byte the board receives, before it answers.
    std::function<void(quint8)> on_byte;

  private:
    Harness& h_;
    QObject context_;
    QStringList tokens_;
};

inline QString Hex(std::initializer_list<int> bytes) {
    QStringList out;
    for (int b : bytes)
        out << QStringLiteral("%1").arg(b & 0xFF, 2, 16, QLatin1Char('0'));
    return out.join(QLatin1Char(' '));
}

inline QString Join(const QStringList& parts) {
    QStringList kept;
    for (const QString& p : parts)
        if (!p.isEmpty()) kept << p;
    return kept.join(QLatin1Char(' '));
}

// Loads the window and runs until the board is connected and the task polls its status.
inline bool Start_Connected(Harness& h) {
    h.load();
    return h.run_until([&h] { return h.t.S.Task_State == Task::Idle_Status && h.t.S.Connected; },
                       5000);
}

inline loopsim::Detector Make_Detector(uint8_t type_code) {
    loopsim::Detector d;
    d.type_code = type_code;
    return d;
}

// The grid as a search would leave it for address `adr`, without running one.
inline void Mark_Found(Tool& t, int adr, uint8_t type_index, const QString& name) {
    t.S.Adr_Type[adr - 1] = type_index;
    t.F.Adr_Box(adr).setCaption(QStringLiteral("%1\n").arg(adr, 3, 10, QLatin1Char('0')) + name);
}

// Clicks the cell and runs until its readout has ended and the task idles again.
inline bool Run_Readout(Harness& h, int adr, int ms = 10000) {
    h.t.F.Adr_Box(adr).click();
    return h.run_until(
        [&h] {
            return h.t.S.Task_State == Task::Idle_Status && h.t.F.Led_On_Cde.Visible() &&
                   h.t.Screen.MousePointer() == Screen_Pointer::Default;
        },
        ms);
}

// The identity frames of a detector, with their pauses.
inline QString Identity_Wire(int adr) {
    return Join({Hex({0x40, 0x14, adr, 0x00}), "P", Hex({0x40, 0x15, adr, 0x00}), "P",
                 Hex({0x40, 0x08, adr, 0x00}), "P", Hex({0x40, 0x09, adr, 0x00}), "P",
                 Hex({0x40, 0x0A, adr, 0x00}), "P", Hex({0x40, 0x0B, adr, 0x00})});
}

// The parameter frames, each after its pause: rows 5 to 13, and the mode row when asked.
inline QString Params_Wire(int adr, bool with_mode) {
    QStringList parts;
    for (int code : {0x0C, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x0F})
        parts << "P" << Hex({0x40, code, adr, 0x00});
    if (with_mode) parts << "P" << Hex({0x40, 0x18, adr, 0x00});
    return Join(parts);
}

// A port whose board echoes the first three bytes of every frame and then answers the last one
// with the status byte alone, raising its event all the same (as a line fault would): the reply
// the tool gets is shorter than the two bytes it reads.
class Short_Reply_Port : public Serial_Port {
  public:
    bool Open(int) override { return open_ = true; }
    void Close() override { open_ = false; }
    bool PortOpen() const override { return open_; }
    int InBufferCount() override { return int(pending_.size()); }
    QByteArray Input() override { return std::exchange(pending_, QByteArray()); }
    bool Output(uint8_t b) override {
        sent.append(char(b));
        pending_.append(position_ < 3 ? char(b) : char(0x00));
        position_ = (position_ + 1) % 4;
        QTimer::singleShot(0, this, [this] { emit Comm_Event(); });
        return true;
    }
    QString Device_Name(int) const override { return {}; }

    QByteArray sent;

  private:
    bool open_ = false;
    int position_ = 0;
    QByteArray pending_;
};

// A tool on a Short_Reply_Port, its timers and port event wired, not loaded.
inline Short_Reply_Port* Use_Short_Reply_Port(Tool& t) {
    auto port = std::make_unique<Short_Reply_Port>();
    Short_Reply_Port* raw = port.get();
    t.Comm1 = std::move(port);
    t.Comm1->Open(1);
    Wire_Link_Events(t);
    return raw;
}
