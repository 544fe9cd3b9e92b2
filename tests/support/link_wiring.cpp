#include "support/link_wiring.h"

#include "app/link_events.h"
#include "support/harness.h"

void Open_Quiet(Harness& h) {
    wire_link_events(h.t);
    h.open();
    h.t.form.Timer_Tache.stop();
    h.board.clear_traffic();
}

Line_Clock::Line_Clock(loopsim::Board& board) {
    clock_.start();
    QObject::connect(&board, &loopsim::Board::byte_received, &context_, [this](quint8 b) {
        bytes.append({b, clock_.elapsed()});
    });
}

QByteArray bytes(std::initializer_list<int> values) {
    QByteArray out;
    for (int v : values)
        out.append(static_cast<char>(v));
    return out;
}
