// The bus task: the dispatcher, the watch over the interface board, and the LED command.
#include "support/harness.h"
#include "support/link_wiring.h"

#include "engine/led.h"

#include <QtTest>

namespace {

void check_look(const Tool& t, const QString& version) {
    const bool connected = !version.isEmpty();
    QCOMPARE(t.F.Connection_Lbl.Caption(),
             QString::fromUtf8(connected ? "Connecté " : "Deconnecté"));
    QCOMPARE(t.F.Emul_Frm.BackColor(), connected ? RGB(0, 255, 0) : RGB(255, 255, 0));
    QCOMPARE(t.F.Version_Lbl.Visible(), connected);
    if (connected) QCOMPARE(t.F.Version_Lbl.Caption(), version);
}

} // namespace

class Tst_Bus_Task : public QObject {
    Q_OBJECT
  private slots:
    void states_without_step();
    void quit_during_wait_ends_step_at_once();
    void probe_before_any_opening();
    void version_and_status_data();
    void version_and_status();
    void drop_outs_and_declared_disconnection();
    void led_data();
    void led();
    void led_click_during_failing_poll();
};

void Tst_Bus_Task::states_without_step() {
    Harness h;
    Open_Quiet(h);
    for (int state : {0, 10, 11, 12, 13, 14, 15, 17, -1, -32768}) {
        h.t.S.Task_State = int16_t(state);
        h.step();
        QCOMPARE(h.t.S.Task_State, int16_t(Task::Probe_Interface));
    }
    QTest::qWait(30);
    QCOMPARE(h.board.received(), QByteArray());
    QVERIFY(!h.t.F.Unloaded());
}

void Tst_Bus_Task::quit_during_wait_ends_step_at_once() {
    Harness h;
    Open_Quiet(h);
    h.board.set_silent(true);
    h.t.S.Task_State = Task::Idle_Status;
    QTimer::singleShot(100, &h.t.F, [&] { h.t.S.Quit_Flag = true; });
    QElapsedTimer e;
    e.start();
    h.step();
    QVERIFY2(e.elapsed() < 1000, qPrintable(QString::number(e.elapsed())));
    QVERIFY(h.t.F.Unloaded());
    QVERIFY(!h.t.F.Timer_Time_Out.isActive());
    // After Quit nothing more goes on the line.
    h.t.S.Task_State = Task::Probe_Interface;
    h.step();
    QTest::qWait(30);
    QCOMPARE(h.board.received(), bytes({0x08}));
}

// The re-arm of a search can switch the task tick on before any port opening succeeded: the
// count of failed probes, still 0, must not wrap.
void Tst_Bus_Task::probe_before_any_opening() {
    Harness h;
    h.t.S.Task_State = Task::Probe_Interface;
    h.t.S.Connected = true;
    h.t.F.Cc_Lbl.setVisible(true);
    h.step();
    QCOMPARE(h.t.S.Probe_Retries, uint8_t(3));
    QVERIFY(!h.t.S.Connected);
    QVERIFY(!h.t.F.Cc_Lbl.Visible());
    check_look(h.t, "");
    QCOMPARE(h.board.received(), QByteArray());
}

// What the board answers to the version request (0x02) and then to the status request (0x08).
void Tst_Bus_Task::version_and_status_data() {
    QTest::addColumn<int>("version");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("caption"); // empty: refused, the version is asked again
    QTest::addColumn<bool>("short_circuit");
    QTest::newRow("0x30, 0x10") << 0x30 << 0x10 << "(Ver.3.0)" << true;
    QTest::newRow("0x3A, 0x11") << 0x3A << 0x11 << "(Ver.3.10)" << true;
    QTest::newRow("0x3F, 0xFF") << 0x3F << 0xFF << "(Ver.3.15)" << true;
    QTest::newRow("0x31, 0x00") << 0x31 << 0x00 << "(Ver.3.1)" << false;
    QTest::newRow("0x31, 0xEF") << 0x31 << 0xEF << "(Ver.3.1)" << false;
    QTest::newRow("0x2F") << 0x2F << 0x10 << "" << false;
}

void Tst_Bus_Task::version_and_status() {
    QFETCH(int, version);
    QFETCH(int, status);
    QFETCH(QString, caption);
    QFETCH(bool, short_circuit);
    Harness h;
    h.board.loop().version = uint8_t(version);
    h.board.loop().status = uint8_t(status);
    Open_Quiet(h);
    h.t.F.Cc_Lbl.setVisible(!short_circuit && !caption.isEmpty());
    for (int i = 0; i < 4; ++i)
        h.step();
    check_look(h.t, caption);
    QCOMPARE(h.t.F.Cc_Lbl.Visible(), short_circuit);
    QCOMPARE(h.board.received(),
             caption.isEmpty() ? bytes({0x01, 0x02, 0x02, 0x02}) : bytes({0x01, 0x02, 0x08, 0x08}));
}

// The board goes (it hangs up, so each failure is immediate) and comes back. A successful probe
// does not give the failed ones back, and a short circuit stays shown until the disconnection
// is declared.
void Tst_Bus_Task::drop_outs_and_declared_disconnection() {
    Harness h;
    Open_Quiet(h);
    h.t.F.Cc_Lbl.setVisible(true); // left over from an earlier connection
    h.board.hang_up();
    const auto step_expect = [&](int state, int retries, bool connected, bool cc) {
        h.step();
        QCOMPARE(h.t.S.Task_State, int16_t(state));
        QCOMPARE(h.t.S.Probe_Retries, uint8_t(retries));
        QCOMPARE(h.t.S.Connected, connected);
        QCOMPARE(h.t.F.Cc_Lbl.Visible(), cc);
    };
    // Just after the opening: declared after two failed probes.
    step_expect(1, 1, false, true);
    step_expect(1, 3, false, false);
    check_look(h.t, "");

    QVERIFY(h.board.come_back());
    h.board.loop().status = 0x10;
    step_expect(2, 3, false, false);
    step_expect(9, 3, true, false);
    step_expect(9, 3, true, true);

    h.board.hang_up();
    step_expect(1, 3, true, true);
    step_expect(1, 2, true, true);
    QVERIFY(h.board.come_back());
    step_expect(9, 2, true, true); // straight back, the version is not read again

    h.board.hang_up();
    step_expect(1, 2, true, true);
    step_expect(1, 1, true, true);
    check_look(h.t, "(Ver.3.1)");
    step_expect(1, 3, false, false);
    check_look(h.t, "");

    QVERIFY(h.board.come_back());
    step_expect(2, 3, false, false);
    step_expect(9, 3, true, false);
    // Requests made while the board was gone never reached it.
    QCOMPARE(h.board.received(), bytes({0x01, 0x02, 0x08, 0x01, 0x01, 0x02}));
}

// Clicks on LED ON (+address) and LED OFF (-address), each followed by its step. Every frame is
// followed by a 100 ms pause.
void Tst_Bus_Task::led_data() {
    QTest::addColumn<QList<int>>("clicks");
    QTest::addColumn<int>("refuse_from"); // from this click on, the clicked detector refuses
    QTest::addColumn<bool>("simulation");
    QTest::addColumn<QByteArray>("wire");
    QTest::addColumn<QList<int>>("marks");
    QTest::addColumn<int>("led_address");
    QTest::newRow("on 5, on 7") << QList<int>{5, 7} << -1 << false
                                << bytes({0x41, 0x82, 0x05, 0x03, 0x41, 0x82, 0x05, 0x00, 0x41,
                                          0x82, 0x07, 0x03})
                                << QList<int>{7} << 7;
    QTest::newRow("on 5, off 5, on 5") << QList<int>{5, -5, 5} << -1 << false
                                       << bytes({0x41, 0x82, 0x05, 0x03, 0x41, 0x82, 0x05, 0x00,
                                                 0x41, 0x82, 0x05, 0x00, 0x41, 0x82, 0x05, 0x03})
                                       << QList<int>{5} << 5;
    QTest::newRow("off where nothing was lit")
        << QList<int>{-9} << -1 << false << bytes({0x41, 0x82, 0x09, 0x00}) << QList<int>{} << 0;
    QTest::newRow("on refused") << QList<int>{4} << 0 << false << bytes({0x41, 0x82, 0x04, 0x03})
                                << QList<int>{} << 4;
    QTest::newRow("off refused keeps the mark")
        << QList<int>{5, -5} << 1 << false
        << bytes({0x41, 0x82, 0x05, 0x03, 0x41, 0x82, 0x05, 0x00}) << QList<int>{5} << 5;
    QTest::newRow("on 6 during the simulation")
        << QList<int>{6} << -1 << true << bytes({0x41, 0x82, 0x06, 0x03}) << QList<int>{} << 6;
}

void Tst_Bus_Task::led() {
    QFETCH(QList<int>, clicks);
    QFETCH(int, refuse_from);
    QFETCH(bool, simulation);
    QFETCH(QByteArray, wire);
    QFETCH(QList<int>, marks);
    QFETCH(int, led_address);
    Harness h;
    Open_Quiet(h);
    h.t.S.Simulation_Active = simulation;
    Line_Clock line(h.board);
    QElapsedTimer e;
    e.start();
    for (int i = 0; i < clicks.size(); ++i) {
        const int adr = qAbs(clicks[i]);
        if (i == refuse_from) h.board.loop().detectors[adr].refused.insert(0x82);
        h.t.S.Sel_Adr = uint8_t(adr);
        clicks[i] > 0 ? Led_On_Cde_Click(h.t) : Led_Off_Cde_Click(h.t);
        QCOMPARE(h.t.S.Task_State, int16_t(Task::Led_Command));
        h.step();
        QCOMPARE(h.t.S.Task_State,
                 int16_t(simulation ? Task::Simulation_Poll : Task::Probe_Interface));
    }
    const qint64 ms = e.elapsed();
    QCOMPARE(h.board.received(), wire);
    for (int adr = 1; adr <= 128; ++adr)
        QVERIFY2(h.t.F.Led_Shp(adr).Visible() == marks.contains(adr),
                 qPrintable(QString::number(adr)));
    QCOMPARE(h.t.S.Led_Address, uint8_t(led_address));
    for (int i = 4; i < line.bytes.size(); i += 4)
        QVERIFY2(line.gap_before(i) >= 95, qPrintable(QString::number(line.gap_before(i))));
    QVERIFY2(ms >= 100 * wire.size() / 4 - 5, qPrintable(QString::number(ms)));
}

// A click on LED ON while the status poll waits for a reply that never comes is not lost.
void Tst_Bus_Task::led_click_during_failing_poll() {
    Harness h;
    Open_Quiet(h);
    h.step();
    h.step();
    h.board.clear_traffic();
    h.board.set_silent(true);
    QTimer::singleShot(100, &h.t.F, [&] {
        h.t.S.Sel_Adr = 5;
        Led_On_Cde_Click(h.t);
    });
    h.step();
    QCOMPARE(h.t.S.Task_State, int16_t(Task::Led_Command));
    h.board.set_silent(false);
    h.step();
    QCOMPARE(h.board.received(), bytes({0x08, 0x41, 0x82, 0x05, 0x03}));
    QVERIFY(h.t.F.Led_Shp(5).Visible());
}

QTEST_GUILESS_MAIN(Tst_Bus_Task)
#include "tst_bus_task.moc"
