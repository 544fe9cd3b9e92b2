// The detector panel's sensor check boxes and the control-panel simulation against the simulated
// board: what is written and polled, in what order, the colours, the LED hand-over, and clicks
// that come while a step waits.
#include "addresses_fixture.h"
#include "app/menus.h"
#include "engine/tempo.h"
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
bool Found(Harness& h, int count, const std::map<int, int>& states = {}, QList<int> types = {},
           int code = 0x21) {
    loopsim::Loop& loop = h.board.loop();
    loop.script.clear();
    loop.detectors.clear();
    for (int a = 1; a <= count; ++a) {
        loop.detectors[a].type_code = uint8_t(code);
        loop.detectors[a].state = uint8_t(states.count(a) ? states.at(a) : 0);
    }
    if (!Start_Connected(h)) return false;
    h.t.state.Adr_Count = uint8_t(count);
    for (int a = 1; a <= count; ++a) {
        h.t.state.Adr_Type[a - 1] = uint8_t(types.value(a - 1, 2));
        h.t.type_epoch[a - 1] = h.t.board_epoch;
        h.t.form.Adr_Box(a).set_back_color(Found_Colour);
    }
    h.t.form.Adr_Status_Cde.set_visible(true);
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
    return t.form.Lgd_Lbl(0).Visible() && t.form.Lgd_Shp(3).Visible();
}

bool Stopped(Harness& h) {
    return h.t.state.Task_State == Task::Idle_Status && !h.t.state.Simulation_Active;
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

QByteArray Write(int adr, int data) {
    return bytes({0x41, 0x96, adr, data, 0x41, 0x85, adr, 0x00});
}

// Identity, parameters and mode of a DLX508B, as the readout asks for them.
QByteArray Readout(int adr) {
    QByteArray out;
    for (int code : {0x14, 0x15, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06,
                     0x07, 0x0F, 0x18})
        out += bytes({0x40, code, adr, 0x00});
    return out;
}

// Two DLX508B detectors, connected, and the panel showing detector `adr` with the boxes a
// readout of `mode` would have left.
bool Panel(Harness& h, int adr, int mode, int mode2 = 0) {
    if (!Found(h, 2, {}, {3, 3}, 0x1A)) return false;
    h.board.loop().detectors[1].mode = uint8_t(mode);
    h.board.loop().detectors[2].mode = uint8_t(mode2);
    Tool& t = h.t;
    t.state.Sel_Adr = uint8_t(adr);
    t.form.Status_Frame.set_visible(true);
    t.form.Param_Lbl(0).set_visible(true);
    t.state.Check_Lock = true;
    t.form.Opto_Check.set_value(mode & 0x02 ? 0 : 1);
    t.form.Thermo_Check.set_value(mode & 0x01 ? 0 : 1);
    t.state.Sensor_Mode = uint8_t(mode);
    t.state.Check_Lock = false;
    return true;
}

// The user's click on a check box: the window turns its value over.
void Toggle(Control& box) {
    box.set_value(1 - box.Value());
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
        t.form.Adr_Box(4).set_back_color(0x00E0E0E0);
        t.form.Status_Frame.set_visible(true);
        t.form.Timer_Tache.setInterval(250);
        t.form.Adr_Status_Cde.click();
        QVERIFY(!t.form.Status_Frame.Visible() && !t.form.Start_Bus_Cmd.Visible());
        QVERIFY(Legend_Shown(t) && t.state.Grid_Locked);
        QCOMPARE(t.form.Adr_Status_Cde.Caption(), QString::fromUtf8("ARRÊT SIMULATION"));
        QCOMPARE(t.form.Current_Operation_Lbl.Caption(),
                 QStringLiteral("SIMULATION GESTION BUS PAR ECS"));
        QCOMPARE(t.form.Timer_Tache.interval(), 100);
        QCOMPARE(t.state.Simulation_Active.raw(), int16_t(-1));
        QVERIFY(Wire_Is(h, Polls({1, 2, 3, 1})));
        QCOMPARE(t.form.Adr_Box(3).BackColor(), Green);

        t.form.Adr_Status_Cde.click();
        QVERIFY(!Legend_Shown(t));
        QVERIFY(h.run_until([&] { return Stopped(h); }, 5000));
        QCOMPARE(h.board.received(), Polls({1, 2, 3, 1}) + Probe);
        QCOMPARE(t.form.Adr_Status_Cde.Caption(), Idle_Caption);
        QCOMPARE(t.form.Current_Operation_Lbl.Caption(), QStringLiteral("Attente Commande"));
        QVERIFY(t.form.Start_Bus_Cmd.Visible() && !t.state.Grid_Locked);
        QCOMPARE(t.form.Adr_Box(3).BackColor(), Found_Colour);
        QCOMPARE(t.form.Adr_Box(4).BackColor(), 0x00E0E0E0u);
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
        h.t.form.Adr_Status_Cde.click();
        QVERIFY(h.run_until([&] { return h.t.form.Adr_Box(1).BackColor() != Found_Colour; }, 5000));
        QCOMPARE(h.t.form.Adr_Box(1).BackColor(), colour);
        if (!wrong_echo)
            QVERIFY(Wire_Is(h, Polls({1}) + (colour == Red ? Led(1, true) : "") + Polls({1})));
    }

    // Each alarm lights its LED once a run, the second switching the first off; polling goes
    // on; a new run first switches off the LED lit before it, then lights the alarms' again.
    void alarmLeds() {
        Harness h;
        QVERIFY(Found(h, 4, {{2, 0x01}, {3, 0x09}}));
        Tool& t = h.t;
        t.form.Adr_Status_Cde.click();
        const QByteArray run =
            Polls({1, 2}) + Led(2, true) + Polls({3}) + Led(2, false) + Led(3, true);
        QVERIFY(Wire_Is(h, run + Polls({4, 1, 2, 3, 4})));
        QVERIFY(!h.board.loop().detectors[2].led && h.board.loop().detectors[3].led);
        QVERIFY(!t.form.Led_Shp(3).Visible());
        t.form.Adr_Status_Cde.click();
        QVERIFY(h.run_until([&] { return Stopped(h); }, 5000));
        QCOMPARE(int(t.state.Led_Address), 3);
        t.form.Adr_Status_Cde.click();
        QVERIFY(
            Wire_Is(h, run + Polls({4, 1, 2, 3, 4}) + Probe + Led(3, false) + run + Polls({4})));
        QCOMPARE(int(t.state.Led_Address), 3);
    }

    // With one address found, address 1 is polled at every tick; the grid is deaf meanwhile.
    void oneAddressAndGridClicksDoNothing() {
        Harness h;
        QVERIFY(Found(h, 1));
        h.t.state.Sel_Adr = 3;
        Form_KeyDown(h.t, vbKeyF9, 0);
        QVERIFY(Wire_Is(h, Polls({1})));
        h.t.form.Adr_Box(1).click();
        QVERIFY(Wire_Is(h, Polls({1, 1, 1})));
        QVERIFY(!h.t.form.Status_Frame.Visible());
        QCOMPARE(int(h.t.state.Sel_Adr), 3);
    }

    // The board dies during a run: after three polls without a byte the panel says so while the
    // polling goes on, and the first answer turns it green again; once the run is stopped the
    // probe reads the version again. On a clock five times faster.
    void boardLostDuringRun() {
        Harness h;
        set_clock_divider(h.t, 5);
        h.board.set_clock_divider(5);
        QVERIFY(Found(h, 4));
        const Control& panel = h.t.form.Emul_Frm;
        h.t.form.Adr_Status_Cde.click();
        QVERIFY(Wire_Is(h, Polls({1, 2, 3, 4})));
        h.board.set_silent(true);
        QVERIFY(h.run_until([&] { return panel.BackColor() == RGB(255, 255, 0); }, 10000));
        QCOMPARE(h.board.received().count(char(0x40)), 4 + 3);
        QVERIFY(!h.t.form.Version_Lbl.Visible() && !h.t.state.Connected);
        QVERIFY(h.run_until([&] { return h.board.received().count(char(0x40)) == 4 + 4; }, 5000));
        h.board.set_silent(false);
        QVERIFY(h.run_until([&] { return panel.BackColor() == RGB(0, 255, 0); }, 5000));
        QCOMPARE(h.t.form.Connection_Lbl.Caption(), QString::fromUtf8("Connecté "));
        h.t.form.Adr_Status_Cde.click();
        QVERIFY(h.run_until([&] { return Stopped(h) && h.t.state.Connected; }, 5000));
        QVERIFY(h.board.received().endsWith(bytes({0x01, 0x02})));
        QVERIFY(h.t.form.Version_Lbl.Visible());
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
        h.t.form.Adr_Status_Cde.click();
        On_Byte(h, quint8(trigger), [&h] { h.t.form.Adr_Status_Cde.click(); });
        QVERIFY(h.run_until([&] { return Stopped(h); }, 10000));
        QCOMPARE(h.board.received(), wire);
        QCOMPARE(h.t.form.Adr_Status_Cde.Caption(), Idle_Caption);
        QVERIFY(!Legend_Shown(h.t) && !h.t.state.Grid_Locked);
        h.run_for(350);
        QVERIFY(!h.board.received().contains(bytes({0x40, 0x10, 0x02})));
    }

    // A box clicked, or Sensor_Mode set to any value: only 0x00, 0x01 or 0x02 is ever written.
    void modeChange_data() {
        QTest::addColumn<int>("mode");  // shown before the click, or Sensor_Mode written as is
        QTest::addColumn<int>("click"); // 1 Optique, 0 Thermique, -1 none
        QTest::addColumn<int>("data");  // written with 0x96; the click is refused if it is `mode`
        QTest::newRow("optique off") << 0x00 << 1 << 0x02;
        QTest::newRow("thermique off") << 0x00 << 0 << 0x01;
        QTest::newRow("optique back on") << 0x02 << 1 << 0x00;
        QTest::newRow("thermique off refused") << 0x02 << 0 << 0x02;
        QTest::newRow("optique off refused") << 0x01 << 1 << 0x01;
        QTest::newRow("both bits: thermique off") << 0x03 << -1 << 0x01;
        QTest::newRow("statique bit") << 0x06 << -1 << 0x02;
        QTest::newRow("every bit") << 0xFF << -1 << 0x01;
    }
    void modeChange() {
        QFETCH(int, mode);
        QFETCH(int, click);
        QFETCH(int, data);
        const bool refused = mode == data;
        Harness h;
        QVERIFY(Panel(h, 2, mode));
        Line_Clock line(h.board);
        if (click < 0) {
            h.t.state.Sensor_Mode = uint8_t(mode);
            h.t.state.Task_State = Task::Mode_Write;
        } else {
            Control& box = click ? h.t.form.Opto_Check : h.t.form.Thermo_Check;
            const int before = box.Value();
            Toggle(box);
            QCOMPARE(box.Value(), refused ? before : 1 - before);
            QCOMPARE(int(h.t.state.Sensor_Mode), data);
        }
        QCOMPARE(h.dialogs.messages.size(), int(refused));
        for (const auto& m : h.dialogs.messages)
            QVERIFY(m.prompt == QString::fromUtf8("Il doit y avoir au moins un capteur activé !") &&
                    m.title == QString::fromUtf8("Sélection Capteur") && m.style == 64);
        // The write, its 100 ms pause, the commit, then a readout of the detector.
        QVERIFY(h.run_until([&] { return Readout_Over(h); }, 10000));
        QCOMPARE(h.board.received(), Write(2, data) + Readout(2) + Probe);
        QVERIFY2(line.gap_before(4) >= 95, qPrintable(QString::number(line.gap_before(4))));
        QCOMPARE(int(h.board.loop().detectors[2].mode), data);
        QCOMPARE(h.t.form.Opto_Check.Value(), data & 0x02 ? 0 : 1);
        QCOMPARE(h.t.form.Thermo_Check.Value(), data & 0x01 ? 0 : 1);
    }

    // The readout of another detector turns the boxes over: nothing is written.
    void noWriteWhileReadoutSetsBoxes_data() {
        QTest::addColumn<int>("mode1");
        QTest::addColumn<int>("mode2");
        QTest::newRow("thermique off, then optique off") << 0x01 << 0x02;
        QTest::newRow("both off, then both on") << 0x03 << 0x04;
    }
    void noWriteWhileReadoutSetsBoxes() {
        QFETCH(int, mode1);
        QFETCH(int, mode2);
        Harness h;
        QVERIFY(Panel(h, 1, mode1, mode2));
        h.t.form.Adr_Box(2).click();
        QVERIFY(h.run_until([&] { return Readout_Over(h) && h.t.state.Sel_Adr == 2; }, 10000));
        QCOMPARE(h.board.received(), Readout(2) + Probe);
        QCOMPARE(h.t.form.Opto_Check.Value(), mode2 & 0x02 ? 0 : 1);
        QCOMPARE(h.t.form.Thermo_Check.Value(), mode2 & 0x01 ? 0 : 1);
        QCOMPARE(int(h.board.loop().detectors[1].mode), mode1);
        QCOMPARE(int(h.board.loop().detectors[2].mode), mode2);
        QVERIFY(h.dialogs.messages.isEmpty());
    }

    // Clicks that land while a step waits for its answer: the state the step then chooses must
    // not replace what they ask for, and a search's re-arm must wait for the step's end. After a
    // click on cell 2 the boxes still show detector 1 until the readout: a box clicked then
    // writes to neither detector.
    void clickDuringStep_data() {
        QTest::addColumn<int>("state");
        QTest::addColumn<QString>("clicks");
        QTest::addColumn<QByteArray>("wire");
        QTest::addColumn<int>("mode"); // detector 1's, afterwards
        const QByteArray search = bytes({0x04, 0x03, 0x41, 0x81, 0x01, 0x01});
        QTest::newRow("search during the poll") << 9 << "F5"
                                                << "\x08" + search << 0;
        QTest::newRow("search during the probe") << 1 << "F5" << Probe + search << 0;
        QTest::newRow("simulation start") << 1 << "F9" << Probe + Polls({1, 2, 1}) << 0;
        QTest::newRow("box") << 1 << "box" << Probe + Write(1, 0x02) << 2;
        QTest::newRow("cell then box") << 1 << "cell box" << Probe + Readout(2) + Probe << 0;
    }
    void clickDuringStep() {
        QFETCH(int, state);
        QFETCH(QString, clicks);
        QFETCH(QByteArray, wire);
        QFETCH(int, mode);
        Harness h;
        QVERIFY(Panel(h, 1, 0x00));
        // Only the order matters here: a faster clock spares most of the re-arm's pause.
        set_clock_divider(h.t, 5);
        h.board.set_clock_divider(5);
        h.t.state.Task_State = int16_t(state);
        // The board takes the request in while the step waits for its answer.
        On_Byte(h, quint8(wire[0]), [&] {
            QVERIFY(h.t.link.bus_busy > 0);
            if (clicks == "F5") h.t.form.Start_Bus_Cmd.click();
            if (clicks == "F9") h.t.form.Adr_Status_Cde.click();
            if (clicks.startsWith("cell")) h.t.form.Adr_Box(2).click();
            if (clicks.endsWith("box")) Toggle(h.t.form.Opto_Check);
        });
        QVERIFY(Wire_Is(h, wire));
        QCOMPARE(int(h.board.loop().detectors[1].mode), mode);
        QCOMPARE(bool(h.t.state.Simulation_Active), clicks == "F9");
    }
};

QTEST_GUILESS_MAIN(Tst_Simulation)
#include "tst_simulation.moc"
