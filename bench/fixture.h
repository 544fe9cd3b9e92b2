#pragma once
// What the benchmarks on the simulated board start from.
#include "support/harness.h"

#include <QString>

inline bool start_connected(Harness& h) {
    h.load();
    return h.run_until(
        [&h] { return h.t.state.Task_State == Task::Idle_Status && h.t.state.Connected; }, 5000);
}

inline loopsim::Detector make_detector(int type_code) {
    loopsim::Detector d;
    d.type_code = uint8_t(type_code);
    return d;
}

// The grid as a search would leave it for address `adr`.
inline void mark_found(Tool& t, int adr, int type_index, const QString& name) {
    t.state.Adr_Type[adr - 1] = uint8_t(type_index);
    t.type_sight[adr - 1] = t.board.sight();
    t.form.Adr_Box(adr).set_caption(QStringLiteral("%1\n").arg(adr, 3, 10, QLatin1Char('0')) +
                                    name);
}
