// Switching a detector's LED on and off from the detail panel and from the simulation.
#include "support/harness.h"
#include "support/link_wiring.h"

#include "engine/led.h"

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
        h.step();
        h.step();
        h.board.clear_traffic();
    }
    // One click on a button of the panel for `address`, then the step it asks for.
    void led(bool on, int address) {
        t.S.Sel_Adr = uint8_t(address);
        if (on)
            Led_On_Cde_Click(t);
        else
            Led_Off_Cde_Click(t);
        QCOMPARE(t.S.Task_State, int16_t(Task::Led_Command));
        QCOMPARE(t.S.Led_Request, uint8_t(on ? 1 : 0));
        h.step();
    }
    bool mark(int address) const { return t.F.Led_Shp(address).Visible(); }
    int16_t state() const { return t.S.Task_State; }
};

} // namespace

class Tst_Led : public QObject {
    Q_OBJECT
  private slots:
    void on_then_on_at_another_address();
    void on_off_on_at_same_address();
    void off_where_nothing_was_lit();
    void switch_on_not_accepted_data();
    void switch_on_not_accepted();
    void failed_switch_off_keeps_mark();
    void on_during_simulation();
    void click_during_step_not_lost_data();
    void click_during_step_not_lost();
};

void Tst_Led::on_then_on_at_another_address() {
    Rig r;
    Line_Clock line(r.h.board);
    r.led(true, 5);
    QCOMPARE(r.h.board.received(), bytes({0x41, 0x82, 0x05, 0x03}));
    QVERIFY(r.mark(5));
    QCOMPARE(r.t.S.Led_Address, uint8_t(5));
    QCOMPARE(r.state(), int16_t(Task::Probe_Interface));

    r.h.board.clear_traffic();
    QElapsedTimer step;
    step.start();
    r.led(true, 7);
    const qint64 step_ms = step.elapsed();
    QCOMPARE(r.h.board.received(), bytes({0x41, 0x82, 0x05, 0x00, 0x41, 0x82, 0x07, 0x03}));
    QVERIFY(!r.mark(5));
    QVERIFY(r.mark(7));
    QCOMPARE(r.t.S.Led_Address, uint8_t(7));
    QCOMPARE(r.state(), int16_t(Task::Probe_Interface));

    // 100 ms between the two frames, and 100 ms more after the last one.
    QCOMPARE(line.bytes.size(), 12);
    QVERIFY2(line.gap_before(8) >= 95, qPrintable(QString::number(line.gap_before(8))));
    QVERIFY2(step_ms >= 195, qPrintable(QString::number(step_ms)));
}

void Tst_Led::on_off_on_at_same_address() {
    Rig r;
    r.led(true, 5);
    QElapsedTimer step;
    step.start();
    r.led(false, 5);
    QVERIFY(step.elapsed() >= 95);
    QVERIFY(!r.mark(5));
    QCOMPARE(r.t.S.Led_Address, uint8_t(5));
    r.led(true, 5);
    QVERIFY(r.mark(5));
    QCOMPARE(r.h.board.received(), bytes({0x41, 0x82, 0x05, 0x03, 0x41, 0x82, 0x05, 0x00, 0x41,
                                          0x82, 0x05, 0x00, 0x41, 0x82, 0x05, 0x03}));
}

void Tst_Led::off_where_nothing_was_lit() {
    Rig r;
    r.led(false, 9);
    QCOMPARE(r.h.board.received(), bytes({0x41, 0x82, 0x09, 0x00}));
    QCOMPARE(r.t.S.Led_Address, uint8_t(0));
    QVERIFY(!r.mark(9));
    QCOMPARE(r.state(), int16_t(Task::Probe_Interface));
}

// A switch-on the board does not accept shows no mark but is remembered, so the next switch-on
// first switches that address off.
void Tst_Led::switch_on_not_accepted_data() {
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("address");
    QTest::addColumn<QByteArray>("wire");
    QTest::newRow("refused") << "refused" << 4 << bytes({0x41, 0x82, 0x04, 0x03});
    QTest::newRow("no detector there") << "" << 40 << bytes({0x41, 0x82, 0x28, 0x03});
    QTest::newRow("wrong echo") << "wrong" << 4 << bytes({0x41});
}

void Tst_Led::switch_on_not_accepted() {
    QFETCH(QString, fault);
    QFETCH(int, address);
    QFETCH(QByteArray, wire);
    Rig r;
    if (fault == "refused") r.h.board.loop().detectors[address].refused.insert(0x82);
    if (fault == "wrong") r.h.board.set_wrong_echo(1);
    r.led(true, address);
    QCOMPARE(r.h.board.received(), wire);
    QVERIFY(!r.mark(address));
    QCOMPARE(r.t.S.Led_Address, uint8_t(address));
    QCOMPARE(r.state(), int16_t(Task::Probe_Interface));

    r.h.board.set_wrong_echo(0);
    r.h.board.clear_traffic();
    r.led(true, 2);
    QCOMPARE(r.h.board.received(), bytes({0x41, 0x82, address, 0x00, 0x41, 0x82, 0x02, 0x03}));
    QVERIFY(r.mark(2));
}

void Tst_Led::failed_switch_off_keeps_mark() {
    Rig r;
    r.led(true, 5);
    r.h.board.set_wrong_echo(2);
    r.led(false, 5);
    QVERIFY(r.mark(5));
    r.h.board.set_wrong_echo(0);
    r.h.board.loop().detectors[5].refused.insert(0x82);
    r.led(false, 5);
    QVERIFY(r.mark(5));
    QCOMPARE(r.h.board.received(),
             bytes({0x41, 0x82, 0x05, 0x03, 0x41, 0x82, 0x41, 0x82, 0x05, 0x00}));
}

void Tst_Led::on_during_simulation() {
    Rig r;
    r.led(true, 3);
    QVERIFY(r.mark(3));
    r.t.S.Simulation_Active = true;
    r.led(true, 6);
    QCOMPARE(r.h.board.received(),
             bytes({0x41, 0x82, 0x03, 0x03, 0x41, 0x82, 0x03, 0x00, 0x41, 0x82, 0x06, 0x03}));
    QVERIFY(r.h.board.loop().detectors[6].led);
    QVERIFY(!r.mark(3));
    QVERIFY(!r.mark(6));
    QCOMPARE(r.t.S.Led_Address, uint8_t(6));
    QCOMPARE(r.state(), int16_t(Task::Simulation_Poll));
}

// A click that comes while the idle status request waits for its reply takes effect after the
// step, whether the request is answered or not.
void Tst_Led::click_during_step_not_lost_data() {
    QTest::addColumn<bool>("on");
    QTest::addColumn<bool>("answered");
    QTest::newRow("LED ON, status answered") << true << true;
    QTest::newRow("LED OFF, status answered") << false << true;
    QTest::newRow("LED ON, status request fails") << true << false;
}

void Tst_Led::click_during_step_not_lost() {
    QFETCH(bool, on);
    QFETCH(bool, answered);
    Rig r;
    QCOMPARE(r.state(), int16_t(Task::Idle_Status));
    r.t.S.Led_Request = on ? 0 : 1;
    if (answered)
        r.h.board.set_reply_delay(300);
    else
        r.h.board.set_silent(true);
    QTimer::singleShot(100, &r.t.F, [&] {
        r.t.S.Sel_Adr = 5;
        if (on)
            Led_On_Cde_Click(r.t);
        else
            Led_Off_Cde_Click(r.t);
    });
    r.h.step();
    QCOMPARE(r.state(), int16_t(Task::Led_Command));
    QCOMPARE(r.t.S.Led_Request, uint8_t(on ? 1 : 0));

    r.h.board.set_reply_delay(0);
    r.h.board.set_silent(false);
    r.h.step();
    QCOMPARE(r.h.board.received(), bytes({0x08, 0x41, 0x82, 0x05, on ? 0x03 : 0x00}));
    QCOMPARE(r.mark(5), on);
}

QTEST_GUILESS_MAIN(Tst_Led)
#include "tst_led.moc"
