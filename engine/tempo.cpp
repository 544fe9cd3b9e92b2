#include "engine/tempo.h"

#include "model/tool.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <algorithm>

namespace {

// Whole milliseconds still to go, rounded up so that a pause is never cut short.
int ms_left(const QDeadlineTimer& end) {
    const qint64 ns = end.remainingTimeNSecs();
    if (ns <= 0) return 0;
    return static_cast<int>((ns + 999999) / 1000000);
}

} // namespace

void Tempo_Wait(Tool& t, int16_t ms) {
    if (t.state.Quit_Flag) return;

    // Each pause keeps its own end: a handler that pauses during this one takes Tempo over, and
    // when it is done this pause arms Tempo again for whatever it still has to run.
    const QDeadlineTimer end(std::max(clock_ms(t, ms), 0), Qt::PreciseTimer);
    ++t.tempo.depth_;
    t.form.Timer_Tache.stop();
    t.form.Tempo.setTimerType(Qt::PreciseTimer);

    for (int left = ms_left(end); left > 0 && !t.state.Quit_Flag; left = ms_left(end)) {
        t.form.Tempo.start(left);
        t.state.Tempo_Done = false;
        while (!t.state.Tempo_Done && !t.state.Quit_Flag)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }

    t.state.Tempo_Done = true;
    if (--t.tempo.depth_ > 0) return;
    t.form.Tempo.stop();
    // After Quit the window is gone: its tick must stay off.
    if (!t.state.Quit_Flag && !t.form.is_unloaded()) t.form.Timer_Tache.start();
}

int clock_ms(const Tool& t, int ms) {
    return t.link.clock_ms(ms);
}

int tick_ms(const Tool& t) {
    return clock_ms(t, 100);
}

void set_clock_divider(Tool& t, int divider) {
    t.link.set_clock_divider(divider);
    t.form.Timer_Tache.setInterval(tick_ms(t));
}

void Tempo_Timer(Tool& t) {
    t.form.Tempo.stop();
    t.state.Tempo_Done = true;
}

void Timer_Tache_Timer(Tool& t) {
    t.state.Task_Tick = true;
}
