// The main loop, the task tick and the paced delay.
#include "app/shell.h"
#include "link/tempo.h"
#include "support/harness.h"

#include <QElapsedTimer>
#include <QtTest>

// A state without a step: Bus_Task turns it into 1 and sends nothing, so a step shows as
// Task_State going from this value to 1.
constexpr int16_t No_Step_State = 99;

class Tst_Main_Loop : public QObject {
    Q_OBJECT

  private slots:
    void quitInFirstPass() {
        // The close box keeps Task_State, the menu writes 0; either way the pending tick runs
        // no step (a step would have turned the state into 1).
        for (const bool by_menu : {false, true}) {
            Harness h;
            h.load();
            h.t.S.Task_State = No_Step_State;
            h.t.S.Task_Tick = true;
            QTimer::singleShot(0,
                               [&] { by_menu ? h.t.F.Quit_Mnu.click() : Form_QueryUnload(h.t); });
            // Nothing wakes the loop once the window is gone: a second pass would block.
            QTimer watchdog;
            watchdog.callOnTimeout([] { QFAIL("the loop did not end in its first pass"); });
            watchdog.start(3000);
            Main_Loop(h.t);
            QVERIFY(h.t.F.Unloaded() && !h.t.F.Timer_Tache.isActive());
            QCOMPARE(h.t.S.Task_State, by_menu ? int16_t(0) : No_Step_State);
        }
    }

    // A step that waits out the 2 s reply time-out sees about twenty ticks: they leave one
    // pending tick, served by one step, and the next step waits for a fresh tick.
    void ticksDuringLongStepCollapse() {
        Harness h;
        h.load();
        h.board.set_silent(true);
        h.t.S.Task_State = Task::Probe_Interface;
        h.t.S.Task_Tick = true;
        QElapsedTimer clock;
        clock.start();
        Main_Loop_Pass(h.t);
        QVERIFY2(clock.elapsed() >= 1900, "the probe step did not wait for its time-out");
        int steps = 0;
        QTimer wake; // keeps each blocking pass short
        wake.start(10);
        for (clock.start(); clock.elapsed() < 350;) {
            h.t.S.Task_State = No_Step_State;
            Main_Loop_Pass(h.t);
            steps += h.t.S.Task_State == Task::Probe_Interface;
        }
        QVERIFY2(steps >= 1 && steps <= 5, qPrintable(QString::number(steps)));
    }

    // The tick is off for the whole pause, a pause inside it included, and comes back after
    // it with a fresh count, whether it ran before or not.
    void pauseStopsTickThenRestartsIt() {
        Harness h;
        h.load();
        h.t.S.Task_Tick = false;
        bool tick_after_inner = true;
        QTimer::singleShot(50, [&] {
            Tempo_Wait(h.t, 100);
            tick_after_inner = h.t.F.Timer_Tache.isActive() || h.t.S.Task_Tick;
        });
        QElapsedTimer clock;
        clock.start();
        Tempo_Wait(h.t, 300);
        QVERIFY2(clock.elapsed() >= 300, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(!tick_after_inner && !h.t.S.Task_Tick);
        QVERIFY(h.t.F.Timer_Tache.isActive() && h.t.F.Timer_Tache.remainingTime() > 60);
        h.t.F.Timer_Tache.stop();
        Tempo_Wait(h.t, 20);
        QVERIFY(h.t.F.Timer_Tache.isActive());
    }
};

QTEST_GUILESS_MAIN(Tst_Main_Loop)
#include "tst_main_loop.moc"
