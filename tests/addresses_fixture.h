#pragma once
// Helpers of the address search and detector readout tests and benchmarks.
#include "support/harness.h"
#include "support/link_wiring.h"

#include <QStringList>
#include <QTimer>
#include <functional>
#include <initializer_list>

// The conversation as one text: a hex token per byte the board received, in order, and "P"
// where one of the tool's paced pauses ended, so one comparison checks bytes and pauses.
class Wire_Log {
  public:
    explicit Wire_Log(Harness& h) : board_(h.board) {
        QObject::connect(&h.board, &loopsim::Board::byte_received, &context_, [this](quint8 b) {
            tokens_ << QStringLiteral("%1").arg(b, 2, 16, QLatin1Char('0'));
            if (on_byte) on_byte(b);
        });
        QObject::connect(&h.t.form.Tempo, &QTimer::timeout, &context_, [this] { tokens_ << "P"; });
    }
    void clear() {
        tokens_.clear();
        board_.clear_traffic();
    }
    QString text() const { return tokens_.join(QLatin1Char(' ')); }
    std::function<void(quint8)> on_byte; // runs before the board answers

  private:
    loopsim::Board& board_;
    QObject context_;
    QStringList tokens_;
};

inline QString Hex(std::initializer_list<int> values) {
    return QString::fromLatin1(bytes(values).toHex(' '));
}

// Joins the non-empty parts with blanks.
inline QString Join(const QStringList& parts) {
    QStringList kept = parts;
    kept.removeAll(QString());
    return kept.join(QLatin1Char(' '));
}

inline bool Start_Connected(Harness& h) {
    h.load();
    return h.run_until(
        [&h] { return h.t.state.Task_State == Task::Idle_Status && h.t.state.Connected; }, 5000);
}

inline loopsim::Detector Make_Detector(int type_code) {
    loopsim::Detector d;
    d.type_code = uint8_t(type_code);
    return d;
}

// The grid as a search would leave it for address `adr`.
inline void Mark_Found(Tool& t, int adr, int type_index, const QString& name) {
    t.state.Adr_Type[adr - 1] = uint8_t(type_index);
    t.type_epoch[adr - 1] = t.board_epoch;
    t.form.Adr_Box(adr).set_caption(QStringLiteral("%1\n").arg(adr, 3, 10, QLatin1Char('0')) +
                                    name);
}

// The readout has ended: the task idles, the LED buttons are back and the pointer is plain.
inline bool Readout_Over(Harness& h) {
    return h.t.state.Task_State == Task::Idle_Status && h.t.form.Led_On_Cde.Visible() &&
           h.t.screen.MousePointer() == Screen_Pointer::Default;
}

// Clicks the cell and runs until its readout has ended.
inline bool Run_Readout(Harness& h, int adr) {
    h.t.form.Adr_Box(adr).click();
    return h.run_until([&h] { return Readout_Over(h); }, 10000);
}

// Rows 2 to 4: versions and the four serial bytes, a pause after each frame but the last.
inline QString Identity_Wire(int adr) {
    QStringList parts;
    for (int code : {0x14, 0x15, 0x08, 0x09, 0x0A, 0x0B})
        parts << Hex({0x40, code, adr, 0x00}) << "P";
    parts.removeLast();
    return parts.join(QLatin1Char(' '));
}

// Rows 5 to 13, and the mode row when asked, each after its pause.
inline QString Params_Wire(int adr, bool with_mode) {
    QStringList parts;
    for (int code : {0x0C, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x0F})
        parts << "P" << Hex({0x40, code, adr, 0x00});
    if (with_mode) parts << "P" << Hex({0x40, 0x18, adr, 0x00});
    return parts.join(QLatin1Char(' '));
}
