#include "engine/tempo.h"

#include "model/tool.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <algorithm>

namespace {

// Whole milliseconds still to go, rounded up so that a pause is never cut short.
int Ms_Left(const QDeadlineTimer& end) {
    const qint64 ns = end.remainingTimeNSecs();
    if (ns <= 0) return 0;
    return static_cast<int>((ns + 999999) / 1000000);
}

} // namespace

void Tempo_Wait(Tool& t, int16_t ms) {
    if (t.S.Quit_Flag) return;

    // Each pause keeps its own end: a handler that pauses during this one takes Tempo over, and
    // when it is done this pause arms Tempo again for whatever it still has to run.
    const QDeadlineTimer end(std::max(Clock_Ms(t, ms), 0), Qt::PreciseTimer);
    ++t.Tempo_Depth;
    t.F.Timer_Tache.stop();
    t.F.Tempo.setTimerType(Qt::PreciseTimer);

    for (int left = Ms_Left(end); left > 0 && !t.S.Quit_Flag; left = Ms_Left(end)) {
        t.F.Tempo.start(left);
        t.S.Tempo_Done = false;
        while (!t.S.Tempo_Done && !t.S.Quit_Flag)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }

    t.S.Tempo_Done = true;
    if (--t.Tempo_Depth > 0) return;
    t.F.Tempo.stop();
    // After Quit the window is gone: its tick must stay off.
    if (!t.S.Quit_Flag && !t.F.Unloaded()) t.F.Timer_Tache.start();
}

int Clock_Ms(const Tool& t, int ms) {
    const int d = std::max(t.Clock_Divider, 1);
    // Rounded up, so that a pause never shrinks to nothing.
    return ms <= 0 ? ms : (ms + d - 1) / d;
}

int Tick_Ms(const Tool& t) {
    return Clock_Ms(t, 100);
}

void Set_Clock_Divider(Tool& t, int divider) {
    t.Clock_Divider = std::max(divider, 1);
    t.F.Timer_Tache.setInterval(Tick_Ms(t));
    t.Link.Set_Clock_Divider(t.Clock_Divider);
}

void Tempo_Timer(Tool& t) {
    t.F.Tempo.stop();
    t.S.Tempo_Done = true;
}

void Timer_Tache_Timer(Tool& t) {
    t.S.Task_Tick = true;
}
