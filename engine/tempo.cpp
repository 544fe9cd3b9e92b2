#include "engine/tempo.h"

#include "model/tool.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <algorithm>
#include <chrono>
#include <thread>

void Tempo_Wait(Tool& t, int16_t ms) {
    if (t.state.Quit_Flag) return;

    // Each pause keeps its own end: a handler that pauses during this one takes Tempo over, and
    // when it is done this pause arms Tempo again for whatever it still has to run.
    const QDeadlineTimer end(std::max(clock_ms(t, ms), 0), Qt::PreciseTimer);
    ++t.tempo.depth_;
    t.form.Timer_Tache.stop();
    t.form.Tempo.setTimerType(Qt::PreciseTimer);

    // The event loop counts its timers in whole milliseconds and rounds its wait up again: armed
    // for the milliseconds left rounded up, a pause of 50 ms ended up to 2 ms late, some 1 ms on
    // average. Tempo is armed for the whole milliseconds left, and the fraction of a millisecond
    // still to run once it has fired is slept; the pause still never ends before its end.
    bool armed = false;
    for (qint64 ns = end.remainingTimeNSecs(); ns > 0 && !t.state.Quit_Flag;
         ns = end.remainingTimeNSecs()) {
        if (armed && ns < 1000000) {
            std::this_thread::sleep_for(std::chrono::nanoseconds(ns));
            continue;
        }
        armed = true;
        t.form.Tempo.start(static_cast<int>(ns / 1000000));
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
