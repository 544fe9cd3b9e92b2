// The dispatcher: which step each state runs, states without a step, and quitting.
#include "support/harness.h"
#include "support/link_wiring.h"

#include <QElapsedTimer>
#include <QTimer>
#include <QtTest>

namespace {

struct Rig {
    Harness h;
    Tool& t = h.t;
    Rig() {
        Wire_Link_Events(t);
        h.open();
        t.F.Timer_Tache.stop();
        h.board.clear_traffic();
    }
};

} // namespace

class Tst_Bus_Task : public QObject {
    Q_OBJECT
  private slots:
    void state_without_step_data();
    void state_without_step();
    void dispatch_data();
    void dispatch();
    void quit_unloads_after_step_data();
    void quit_unloads_after_step();
    void quit_during_wait_ends_step_at_once();
};

void Tst_Bus_Task::state_without_step_data() {
    QTest::addColumn<int>("state");
    for (int s : {0, 10, 11, 12, 13, 14, 15, 17, -1, 32767, -32768})
        QTest::newRow(qPrintable(QString::number(s))) << s;
}

void Tst_Bus_Task::state_without_step() {
    QFETCH(int, state);
    Rig r;
    r.t.S.Task_State = int16_t(state);
    r.h.step();
    QCOMPARE(r.t.S.Task_State, int16_t(Task::Probe_Interface));
    QTest::qWait(30);
    QCOMPARE(r.h.board.received(), QByteArray());
    QVERIFY(!r.t.F.Unloaded());
}

// The first bytes each state puts on the line show which step ran.
void Tst_Bus_Task::dispatch_data() {
    QTest::addColumn<int>("state");
    QTest::addColumn<QByteArray>("first_bytes");
    QTest::newRow("1 probe") << 1 << bytes({0x01});
    QTest::newRow("2 version") << 2 << bytes({0x02});
    QTest::newRow("3 search probe, phase 2") << 3 << bytes({0x41, 0x88, 0x01, 0x01});
    QTest::newRow("5 identity") << 5 << bytes({0x40, 0x14, 0x02, 0x00});
    QTest::newRow("6 LED on") << 6 << bytes({0x41, 0x82, 0x02, 0x03});
    QTest::newRow("7 simulation poll") << 7 << bytes({0x40, 0x10, 0x01, 0x00});
    QTest::newRow("9 status") << 9 << bytes({0x08});
    QTest::newRow("16 mode write") << 16 << bytes({0x41, 0x96, 0x02, 0x01});
}

void Tst_Bus_Task::dispatch() {
    QFETCH(int, state);
    QFETCH(QByteArray, first_bytes);
    Rig r;
    Program_State& S = r.t.S;
    S.Phase_Code = 8;
    S.Cur_Adr = 1;
    S.Search_Step = 4;
    S.Adr_Count = 2;
    S.Adr_Type[0] = 0x13;
    S.Adr_Type[1] = 0x1A;
    S.Sel_Adr = 2;
    S.Sim_Address = 1;
    S.Led_Request = 1;
    S.Sensor_Mode = 1;
    S.Task_State = int16_t(state);
    r.h.step();
    QCOMPARE(r.h.board.received().left(first_bytes.size()), first_bytes);
}

void Tst_Bus_Task::quit_unloads_after_step_data() {
    QTest::addColumn<int>("state");
    QTest::addColumn<int>("after");
    QTest::newRow("0 from the quit menu") << 0 << 1;
    QTest::newRow("1 probe") << 1 << 1;
    QTest::newRow("9 status") << 9 << 1;
    QTest::newRow("12 no step") << 12 << 1;
}

// With Quit raised the step's exchanges fail at once and the window unloads after the step.
void Tst_Bus_Task::quit_unloads_after_step() {
    QFETCH(int, state);
    QFETCH(int, after);
    Rig r;
    r.t.S.Connected = true;
    r.t.S.Task_State = int16_t(state);
    r.t.S.Quit_Flag = true;
    QElapsedTimer e;
    e.start();
    r.h.step();
    QVERIFY(e.elapsed() < 500);
    QVERIFY(r.t.F.Unloaded());
    QCOMPARE(r.t.S.Task_State, int16_t(after));
    QTest::qWait(30);
    QCOMPARE(r.h.board.received(), QByteArray());
}

void Tst_Bus_Task::quit_during_wait_ends_step_at_once() {
    Rig r;
    r.h.board.set_silent(true);
    r.t.S.Task_State = Task::Idle_Status;
    QTimer::singleShot(100, &r.t.F, [&] { r.t.S.Quit_Flag = true; });
    QElapsedTimer e;
    e.start();
    r.h.step();
    QVERIFY2(e.elapsed() < 1000, qPrintable(QString::number(e.elapsed())));
    QVERIFY(r.t.F.Unloaded());
    QCOMPARE(r.h.board.received(), bytes({0x08}));
}

QTEST_GUILESS_MAIN(Tst_Bus_Task)
#include "tst_bus_task.moc"
