// The main loop, the task tick and the paced delay.
#include "app/shell.h"
#include "app/tool.h"
#include "link/tempo.h"
#include "support/harness.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <functional>
#include <sys/resource.h>

namespace {

// A state without a step: Bus_Task turns it into 1 and sends nothing, so a step shows as
// Task_State going from this value to 1.
constexpr int16_t No_Step_State = 99;

// Runs main loop passes for `ms`, counting the bus task steps they run.
int Count_Steps(Tool& t, int ms) {
    QTimer wake; // keeps each blocking pass short enough to see the end
    wake.start(10);
    QElapsedTimer clock;
    clock.start();
    int steps = 0;
    while (clock.elapsed() < ms && !t.S.Quit_Flag) {
        t.S.Task_State = No_Step_State;
        Main_Loop_Pass(t);
        if (t.S.Task_State == Task::Probe_Interface) ++steps;
    }
    return steps;
}

// Calls f after ms milliseconds, from the event loop.
void After(int ms, std::function<void()> f) {
    QTimer::singleShot(ms, Qt::PreciseTimer, std::move(f));
}

} // namespace

class Tst_Main_Loop : public QObject {
    Q_OBJECT

    QTemporaryDir dir_; // the load sequence writes its settings file in the current directory
    QString old_dir_;

    // A loaded tool without a serial port, its task tick running as after a successful opening.
    std::unique_ptr<Tool> Loaded_Tool() {
        auto t = std::make_unique<Tool>();
        Form_Load(*t);
        t->F.Timer_Tache.start(100);
        return t;
    }

  private slots:
    void initTestCase() {
        QVERIFY(dir_.isValid());
        old_dir_ = QDir::currentPath();
        QDir::setCurrent(dir_.path());
    }
    void cleanupTestCase() { QDir::setCurrent(old_dir_); }

    void quitEndsTheLoopInItsPass_data() {
        QTest::addColumn<bool>("by_menu");
        QTest::addColumn<int>("state_after");
        // The close box keeps Task_State; the menu writes 0. Either way the tick that was
        // pending in that pass runs no step (a step would have turned the state into 1).
        QTest::newRow("close box") << false << int(No_Step_State);
        QTest::newRow("Quitter") << true << int(Task::Quit);
    }
    void quitEndsTheLoopInItsPass() {
        QFETCH(bool, by_menu);
        QFETCH(int, state_after);
        auto t = Loaded_Tool();
        t->S.Task_State = No_Step_State;
        t->S.Task_Tick = true;
        After(0, [&] {
            if (by_menu)
                t->F.Quit_Mnu.click();
            else
                Form_QueryUnload(*t);
        });
        // Nothing wakes the loop once the window is gone: a second pass would block here.
        bool stuck = false;
        QTimer watchdog;
        watchdog.setSingleShot(true);
        connect(&watchdog, &QTimer::timeout, [&] { stuck = true; });
        watchdog.start(3000);

        Main_Loop(*t);
        QVERIFY(!stuck);
        QVERIFY(t->S.Quit_Flag);
        QVERIFY(t->F.Unloaded());
        QCOMPARE(int(t->S.Task_State), state_after);
        QVERIFY(!t->F.Timer_Tache.isActive());
    }

    void quitDuringPauseEndsPauseAndLoop() {
        auto t = Loaded_Tool();
        QElapsedTimer clock;
        qint64 quit_at = -1, pause_end = -1;
        After(0, [&] {
            Tempo_Wait(*t, 2000);
            pause_end = clock.elapsed();
        });
        After(100, [&] {
            quit_at = clock.elapsed();
            Form_QueryUnload(*t);
        });
        clock.start();
        Main_Loop(*t);
        QVERIFY(quit_at >= 0);
        QVERIFY(pause_end >= quit_at);
        QVERIFY2(pause_end - quit_at < 1000, qPrintable(QString::number(pause_end - quit_at)));
        QVERIFY(clock.elapsed() < 1900);
        // After Quit the window is gone and its tick stays off; a new pause returns at once.
        QVERIFY(!t->F.Timer_Tache.isActive());
        clock.restart();
        Tempo_Wait(*t, 2000);
        QVERIFY(clock.elapsed() < 500);
        QVERIFY(!t->F.Timer_Tache.isActive());
    }

    // A step that waits out a 2 s reply time-out sees about twenty ticks; they leave one pending
    // tick, served at once by one step, and the next step waits for a fresh tick.
    void ticksDuringLongStepCollapse() {
        Harness h;
        h.load();
        QVERIFY(h.t.F.Timer_Tache.isActive());
        h.board.set_silent(true);
        h.t.S.Task_State = Task::Probe_Interface;
        h.t.S.Task_Tick = true;
        QElapsedTimer clock;
        clock.start();
        Main_Loop_Pass(h.t);
        QVERIFY2(clock.elapsed() >= 1900, "the probe step did not wait for its time-out");
        QVERIFY(h.t.S.Task_Tick);

        h.t.S.Task_State = No_Step_State;
        Main_Loop_Pass(h.t);
        QCOMPARE(int(h.t.S.Task_State), int(Task::Probe_Interface));
        QVERIFY(!h.t.S.Task_Tick);

        const int steps = Count_Steps(h.t, 350);
        QVERIFY2(steps >= 1 && steps <= 5, qPrintable(QString::number(steps)));
    }

    void steadyTickPacesSteps() {
        auto t = Loaded_Tool();
        const int steps = Count_Steps(*t, 1000);
        // About ten; the bounds only catch a loop that runs steps without ticks or none at all.
        QVERIFY2(steps >= 3 && steps <= 13, qPrintable(QString::number(steps)));
    }

    void pauseSwitchesTickOnWithFreshCount_data() {
        QTest::addColumn<bool>("running_before");
        QTest::newRow("tick stopped before") << false;
        QTest::newRow("tick running before") << true;
    }
    void pauseSwitchesTickOnWithFreshCount() {
        QFETCH(bool, running_before);
        auto t = Loaded_Tool();
        if (!running_before) t->F.Timer_Tache.stop();
        QElapsedTimer clock;
        clock.start();
        Tempo_Wait(*t, 50);
        QVERIFY(clock.elapsed() >= 50);
        QVERIFY(t->F.Timer_Tache.isActive());
        QCOMPARE(t->F.Timer_Tache.interval(), 100);
        QVERIFY2(t->F.Timer_Tache.remainingTime() > 60,
                 qPrintable(QString::number(t->F.Timer_Tache.remainingTime())));
        QVERIFY(!t->F.Tempo.isActive());
        QCOMPARE(t->Tempo_Depth, 0);
    }

    void noTickDuringPause() {
        auto t = Loaded_Tool();
        t->S.Task_Tick = false;
        bool tick_on_during = true;
        After(150, [&] { tick_on_during = t->F.Timer_Tache.isActive(); });
        QElapsedTimer clock;
        clock.start();
        Tempo_Wait(*t, 300);
        QVERIFY(clock.elapsed() >= 300);
        QVERIFY(!tick_on_during);
        QVERIFY(!t->S.Task_Tick);
        QVERIFY(t->S.Tempo_Done);
    }

    void pauseInsidePause_data() {
        QTest::addColumn<int>("outer_ms");
        QTest::addColumn<int>("inner_at");
        QTest::addColumn<int>("inner_ms");
        QTest::newRow("inner ends first") << 300 << 50 << 100;
        QTest::newRow("inner outlasts outer") << 100 << 20 << 300;
    }
    void pauseInsidePause() {
        QFETCH(int, outer_ms);
        QFETCH(int, inner_at);
        QFETCH(int, inner_ms);
        auto t = Loaded_Tool();
        QElapsedTimer clock;
        qint64 inner_start = -1, inner_end = -1;
        bool tick_on_after_inner = true;
        bool tick_seen = false;
        After(inner_at, [&] {
            inner_start = clock.elapsed();
            Tempo_Wait(*t, static_cast<int16_t>(inner_ms));
            inner_end = clock.elapsed();
            tick_on_after_inner = t->F.Timer_Tache.isActive();
            tick_seen = tick_seen || t->S.Task_Tick;
        });
        clock.start();
        Tempo_Wait(*t, static_cast<int16_t>(outer_ms));
        const qint64 outer_end = clock.elapsed();

        QVERIFY(inner_start >= 0);
        QVERIFY(inner_end - inner_start >= inner_ms);
        QVERIFY2(outer_end >= outer_ms, qPrintable(QString::number(outer_end)));
        QVERIFY(outer_end >= inner_end);
        // The outer pause still runs when the inner one ends: no tick yet.
        QVERIFY(!tick_on_after_inner);
        QVERIFY(!tick_seen);
        QVERIFY(!t->S.Task_Tick);
        QVERIFY(t->F.Timer_Tache.isActive());
        QCOMPARE(t->Tempo_Depth, 0);
    }

    // Measured against spinning, not as a figure: an idle loop should wake only for its timers.
    void idleLoopDoesNotBurnCpu() {
        Harness h;
        h.load();
        rusage before{}, after{};
        getrusage(RUSAGE_SELF, &before);
        QElapsedTimer clock;
        clock.start();
        After(1000, [&] { Form_QueryUnload(h.t); });
        Main_Loop(h.t);
        const qint64 wall_ms = clock.elapsed();
        getrusage(RUSAGE_SELF, &after);
        auto ms = [](const timeval& tv) { return tv.tv_sec * 1000.0 + tv.tv_usec / 1000.0; };
        const double cpu_ms =
            ms(after.ru_utime) - ms(before.ru_utime) + ms(after.ru_stime) - ms(before.ru_stime);
        qInfo("idle main loop: %.1f ms CPU over %lld ms", cpu_ms, wall_ms);
        QVERIFY2(cpu_ms < 0.3 * wall_ms, qPrintable(QString::number(cpu_ms)));
    }
};

QTEST_GUILESS_MAIN(Tst_Main_Loop)
#include "tst_main_loop.moc"
