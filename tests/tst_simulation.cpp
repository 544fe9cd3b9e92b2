// The control-panel simulation against the simulated board: what is polled, in what order,
// the colours, the LED hand-over, and start and stop clicks that come during a step.
#include "app/menus.h"
#include "support/harness.h"
#include "support/link_wiring.h"

#include <QtTest>
#include <map>

namespace {

constexpr uint Found_Colour = 0x00FF8080, Green = 0x0000FF00, Red = 0x000000FF;
const QString Idle_Caption = QStringLiteral("ETAT DES ADRESSES (F9)");
const QByteArray Probe("\x01");

QByteArray Polls(std::initializer_list<int> addresses) {
    QByteArray out;
    for (int a : addresses)
        out += bytes({0x40, 0x10, a, 0x00});
    return out;
}
QByteArray Led(int adr, bool on) {
    return bytes({0x41, 0x82, adr, on ? 0x03 : 0x00});
}

// Detectors at 1..count in the given states, connected, and found as a search leaves them.
bool Found(Harness& h, int count, const std::map<int, int>& states = {}, QList<int> types = {}) {
    loopsim::Loop& loop = h.board.loop();
    loop.script.clear();
    loop.detectors.clear();
    for (int a = 1; a <= count; ++a) {
        loop.detectors[a].type_code = 0x21;
        loop.detectors[a].state = uint8_t(states.count(a) ? states.at(a) : 0);
    }
    h.load();
    if (!h.run_until([&h] { return h.t.S.Task_State == Task::Idle_Status && h.t.S.Connected; },
                     5000))
        return false;
    h.t.S.Adr_Count = uint8_t(count);
    for (int a = 1; a <= count; ++a) {
        h.t.S.Adr_Type[a - 1] = uint8_t(types.value(a - 1, 2));
        h.t.F.Adr_Box(a).setBackColor(Found_Colour);
    }
    h.t.F.Adr_Status_Cde.setVisible(true);
    h.board.clear_traffic();
    return true;
}

// Runs until the board has received as many bytes as `wire`, then compares.
bool Wire_Is(Harness& h, const QByteArray& wire) {
    h.run_until([&] { return h.board.received().size() >= wire.size(); }, 10000);
    if (h.board.received() == wire) return true;
    qWarning("line %s\nwant %s", h.board.received().toHex(' ').data(), wire.toHex(' ').data());
    return false;
}

bool Legend_Shown(Tool& t) {
    return t.F.Lgd_Lbl(0).Visible() && t.F.Lgd_Shp(3).Visible();
}

bool Stopped(Harness& h) {
    return h.t.S.Task_State == Task::Idle_Status && !h.t.S.Simulation_Active;
}

// Runs `action` from inside the step that is sending, when the board receives its first byte
// equal to `byte`.
void On_Byte(Harness& h, quint8 byte, std::function<void()> action) {
    QObject::connect(&h.board, &loopsim::Board::byte_received, &h.board,
                     [=, done = false](quint8 b) mutable {
                         if (b != byte || done) return;
                         done = true;
                         action();
                     });
}

} // namespace

class Tst_Simulation : public QObject {
    Q_OBJECT

  private slots:
    // Unidentified types are polled like the others; the stop recolours only 1..Adr_Count.
    void startAndStop() {
        Harness h;
        QVERIFY(Found(h, 3, {}, {0, 4, 0}));
        Tool& t = h.t;
        t.F.Adr_Box(4).setBackColor(0x00E0E0E0);
        t.F.Status_Frame.setVisible(true);
        t.F.Timer_Tache.setInterval(250);
        t.F.Adr_Status_Cde.click();
        QVERIFY(!t.F.Status_Frame.Visible() && !t.F.Start_Bus_Cmd.Visible());
        QVERIFY(Legend_Shown(t) && t.S.Grid_Locked);
        QCOMPARE(t.F.Adr_Status_Cde.Caption(), QString::fromUtf8("ARRÊT SIMULATION"));
        QCOMPARE(t.F.Current_Operation_Lbl.Caption(),
                 QStringLiteral("SIMULATION GESTION BUS PAR ECS"));
        QCOMPARE(t.F.Timer_Tache.interval(), 100);
        QCOMPARE(t.S.Simulation_Active.raw(), int16_t(-1));
        QVERIFY(Wire_Is(h, Polls({1, 2, 3, 1})));
        QCOMPARE(t.F.Adr_Box(3).BackColor(), Green);

        t.F.Adr_Status_Cde.click();
        QVERIFY(!Legend_Shown(t));
        QVERIFY(h.run_until([&] { return Stopped(h); }, 5000));
        QCOMPARE(h.board.received(), Polls({1, 2, 3, 1}) + Probe);
        QCOMPARE(t.F.Adr_Status_Cde.Caption(), Idle_Caption);
        QCOMPARE(t.F.Current_Operation_Lbl.Caption(), QStringLiteral("Attente Commande"));
        QVERIFY(t.F.Start_Bus_Cmd.Visible() && !t.S.Grid_Locked);
        QCOMPARE(t.F.Adr_Box(3).BackColor(), Found_Colour);
        QCOMPARE(t.F.Adr_Box(4).BackColor(), 0x00E0E0E0u);
    }

    void pointColour_data() {
        QTest::addColumn<QList<int>>("reply"); // status byte, state byte, wrong echo at byte k
        QTest::addColumn<uint>("colour");
        QTest::newRow("standby 00") << QList<int>{0x00, 0x00, 0} << Green;
        QTest::newRow("other bits 06") << QList<int>{0x00, 0x06, 0} << Green;
        QTest::newRow("alarm 01") << QList<int>{0x00, 0x01, 0} << Red;
        QTest::newRow("alarm and fault 09") << QList<int>{0x00, 0x09, 0} << Red;
        QTest::newRow("fault 08") << QList<int>{0x00, 0x08, 0} << 0x000080FFu;
        QTest::newRow("status 01, state 00") << QList<int>{0x01, 0x00, 0} << 0x0000FFFFu;
        QTest::newRow("status 01, state 09") << QList<int>{0x01, 0x09, 0} << 0x0000FFFFu;
        QTest::newRow("wrong echo of the address") << QList<int>{0x00, 0x01, 3} << 0x0000FFFFu;
    }
    void pointColour() {
        QFETCH(QList<int>, reply);
        QFETCH(uint, colour);
        const int wrong_echo = reply[2];
        Harness h;
        QVERIFY(Found(h, 1, {{1, reply[1]}}));
        h.board.loop().detectors[1].poll_status = uint8_t(reply[0]);
        h.board.set_wrong_echo(wrong_echo);
        h.t.F.Adr_Status_Cde.click();
        QVERIFY(h.run_until([&] { return h.t.F.Adr_Box(1).BackColor() != Found_Colour; }, 5000));
        QCOMPARE(h.t.F.Adr_Box(1).BackColor(), colour);
        if (!wrong_echo)
            QVERIFY(Wire_Is(h, Polls({1}) + (colour == Red ? Led(1, true) : "") + Polls({1})));
    }

    // Each alarm lights its LED once a run, the second switching the first off; polling goes
    // on; a new run forgets the LED lit before and lights it again.
    void alarmLeds() {
        Harness h;
        QVERIFY(Found(h, 4, {{2, 0x01}, {3, 0x09}}));
        Tool& t = h.t;
        t.F.Adr_Status_Cde.click();
        const QByteArray run =
            Polls({1, 2}) + Led(2, true) + Polls({3}) + Led(2, false) + Led(3, true);
        QVERIFY(Wire_Is(h, run + Polls({4, 1, 2, 3, 4})));
        QVERIFY(!h.board.loop().detectors[2].led && h.board.loop().detectors[3].led);
        QVERIFY(!t.F.Led_Shp(3).Visible());
        t.F.Adr_Status_Cde.click();
        QVERIFY(h.run_until([&] { return Stopped(h); }, 5000));
        QCOMPARE(int(t.S.Led_Address), 3);
        t.F.Adr_Status_Cde.click();
        QVERIFY(Wire_Is(h, run + Polls({4, 1, 2, 3, 4}) + Probe + run + Polls({4})));
    }

    // With one address found, address 1 is polled at every tick.
    void f9HiddenAndGridClicksDoNothing() {
        Harness h;
        QVERIFY(Found(h, 1));
        Tool& t = h.t;
        t.F.Adr_Status_Cde.setVisible(false);
        Form_KeyDown(t, vbKeyF9, 0);
        QVERIFY(!t.S.Simulation_Active && !Legend_Shown(t));
        t.F.Adr_Status_Cde.setVisible(true);
        t.S.Sel_Adr = 3;
        Form_KeyDown(t, vbKeyF9, 0);
        QVERIFY(Wire_Is(h, Polls({1})));
        t.F.Adr_Box(1).click();
        QVERIFY(Wire_Is(h, Polls({1, 1, 1})));
        QVERIFY(!t.F.Status_Frame.Visible());
        QCOMPARE(int(t.S.Sel_Adr), 3);
    }

    void stopDuringSlowReply_data() {
        QTest::addColumn<int>("trigger"); // byte whose arrival at the board brings the click
        QTest::addColumn<QByteArray>("wire");
        // The poll hands over to the LED state, the LED state back to polling: the stop wins.
        QTest::newRow("during the poll") << 0x10 << Polls({1}) + Probe;
        QTest::newRow("during the LED state") << 0x82 << Polls({1}) + Led(1, true) + Probe;
    }
    void stopDuringSlowReply() {
        QFETCH(int, trigger);
        QFETCH(QByteArray, wire);
        Harness h;
        QVERIFY(Found(h, 2, {{1, 0x01}}));
        h.board.set_reply_delay(60);
        h.t.F.Adr_Status_Cde.click();
        On_Byte(h, quint8(trigger), [&h] { h.t.F.Adr_Status_Cde.click(); });
        QVERIFY(h.run_until([&] { return Stopped(h); }, 10000));
        QCOMPARE(h.board.received(), wire);
        QCOMPARE(h.t.F.Adr_Status_Cde.Caption(), Idle_Caption);
        QVERIFY(!Legend_Shown(h.t) && !h.t.S.Grid_Locked);
        h.run_for(350);
        QVERIFY(!h.board.received().contains(bytes({0x40, 0x10, 0x02})));
    }

    // The probe ends by choosing the idle state, which must not replace the start.
    void startDuringSlowReply() {
        Harness h;
        QVERIFY(Found(h, 2));
        h.board.set_reply_delay(40);
        h.t.S.Task_State = Task::Probe_Interface;
        On_Byte(h, 0x01, [&h] { h.t.F.Adr_Status_Cde.click(); });
        QVERIFY(Wire_Is(h, Probe + Polls({1, 2, 1})));
        QVERIFY(h.t.S.Simulation_Active && Legend_Shown(h.t));
    }
};

QTEST_GUILESS_MAIN(Tst_Simulation)
#include "tst_simulation.moc"
