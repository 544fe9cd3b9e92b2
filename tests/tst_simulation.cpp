#include "support/harness.h"

#include "app/menus.h"

#include <QtTest>
#include <functional>
#include <initializer_list>
#include <map>

namespace {

constexpr uint Found_Colour = 0x00FF8080;  // 128,128,255
constexpr uint Yellow = 0x0000FFFF;        // 255,255,0: communication fault
constexpr uint Red = 0x000000FF;           // 255,0,0: alarm
constexpr uint Orange = 0x000080FF;        // 255,128,0: point fault
constexpr uint Green = 0x0000FF00;         // 0,255,0: standby
constexpr uint Searched_Grey = 0x00E0E0E0; // a searched address that was not found

const QString Idle_Caption = QStringLiteral("ETAT DES ADRESSES (F9)");
const QString Stop_Caption = QString::fromUtf8("ARRÊT SIMULATION");
const QString Running = QStringLiteral("SIMULATION GESTION BUS PAR ECS");
const QString Waiting = QStringLiteral("Attente Commande");

QString Hex(std::initializer_list<int> bytes) {
    QStringList out;
    for (int b : bytes)
        out << QStringLiteral("%1").arg(b & 0xFF, 2, 16, QLatin1Char('0'));
    return out.join(QLatin1Char(' '));
}

QString Join(const QStringList& parts) {
    QStringList kept;
    for (const QString& p : parts)
        if (!p.isEmpty()) kept << p;
    return kept.join(QLatin1Char(' '));
}

QString Poll(int adr) {
    return Hex({0x40, 0x10, adr, 0x00});
}
QString Led_On(int adr) {
    return Hex({0x41, 0x82, adr, 0x03});
}
QString Led_Off(int adr) {
    return Hex({0x41, 0x82, adr, 0x00});
}
const QString Probe = QStringLiteral("01");

QString Polls(std::initializer_list<int> addresses) {
    QStringList parts;
    for (int a : addresses)
        parts << Poll(a);
    return Join(parts);
}

// Detectors at 1..count, in standby unless `states` says otherwise.
loopsim::Loop Loop_Of(int count, const std::map<int, uint8_t>& states = {}) {
    loopsim::Loop loop;
    loop.script.clear();
    for (int a = 1; a <= count; ++a) {
        loopsim::Detector d;
        d.type_code = 0x21;
        auto s = states.find(a);
        if (s != states.end()) d.state = s->second;
        loop.detectors[a] = d;
    }
    return loop;
}

QString Wire(Harness& h) {
    return QString::fromLatin1(h.board.received().toHex(' '));
}
int Byte_Count(const QString& wire) {
    return wire.isEmpty() ? 0 : (wire.size() + 1) / 3;
}

// Runs until the board has received as many bytes as `expected` holds (or more).
bool Run_Until_Wire(Harness& h, const QString& expected, int ms = 10000) {
    const int n = Byte_Count(expected);
    return h.run_until([&] { return h.board.received().size() >= n; }, ms);
}

bool Start_Connected(Harness& h) {
    h.load();
    return h.run_until([&h] { return h.t.S.Task_State == Task::Idle_Status && h.t.S.Connected; },
                       5000);
}

// What a search that found 1..count would leave behind.
void Found(Tool& t, int count, const std::map<int, uint8_t>& types = {}) {
    t.S.Adr_Count = static_cast<uint8_t>(count);
    for (int a = 1; a <= count; ++a) {
        auto ty = types.find(a);
        t.S.Adr_Type[a - 1] = ty != types.end() ? ty->second : 2;
        t.F.Adr_Box(a).setBackColor(Found_Colour);
    }
    t.F.Adr_Status_Cde.setVisible(true);
}

bool Legend_Shown(Tool& t, bool shown) {
    for (int i = 0; i <= 3; ++i)
        if (t.F.Lgd_Lbl(i).Visible() != shown || t.F.Lgd_Shp(i).Visible() != shown) return false;
    return true;
}

// Calls `action` once, from inside the step that is sending, when the board receives `byte`.
class On_Byte {
  public:
    On_Byte(Harness& h, quint8 byte, std::function<void()> action) {
        QObject::connect(&h.board, &loopsim::Board::byte_received, &context_,
                         [this, byte, action](quint8 b) {
                             if (fired || b != byte) return;
                             fired = true;
                             action();
                         });
    }
    bool fired = false;

  private:
    QObject context_;
};

bool Stopped(Harness& h) {
    return h.t.S.Task_State == Task::Idle_Status && !h.t.S.Simulation_Active;
}

} // namespace

class Tst_Simulation : public QObject {
    Q_OBJECT
  private slots:
    void start_and_stop();
    void point_colour_data();
    void point_colour();
    void alarm_led_once_per_run();
    void two_alarms_in_a_row();
    void poll_order_data();
    void poll_order();
    void keys_and_grid();
    void stop_during_slow_reply_data();
    void stop_during_slow_reply();
    void start_during_step_data();
    void start_during_step();
    void search_asked_before_start_data();
    void search_asked_before_start();
};

void Tst_Simulation::start_and_stop() {
    Harness h(Loop_Of(3));
    QVERIFY(Start_Connected(h));
    Tool& t = h.t;
    Found(t, 3);
    t.F.Adr_Box(4).setBackColor(Searched_Grey);
    t.F.Adr_Box(9).setBackColor(Red);
    t.F.Status_Frame.setVisible(true);
    t.Screen.setMousePointer(Screen_Pointer::Hourglass);
    t.S.Led_Address = 7;
    t.S.Sim_Address = 3;
    t.S.Alarm_Latch(2) = true;
    t.S.Alarm_Latch(128) = true;
    t.F.Timer_Tache.setInterval(250);

    h.board.clear_traffic();
    t.F.Adr_Status_Cde.click();

    QCOMPARE(t.S.Task_State, int16_t(Task::Simulation_Poll));
    QVERIFY(!t.F.Status_Frame.Visible());
    QCOMPARE(t.Screen.MousePointer(), int(Screen_Pointer::Default));
    QVERIFY(Legend_Shown(t, true));
    QVERIFY(!t.F.Start_Bus_Cmd.Visible());
    QCOMPARE(t.F.Adr_Status_Cde.Caption(), Stop_Caption);
    QCOMPARE(t.F.Current_Operation_Lbl.Caption(), Running);
    QCOMPARE(t.F.Timer_Tache.interval(), 100);
    QVERIFY(t.S.Grid_Locked);
    QCOMPARE(t.S.Simulation_Active.raw(), int16_t(-1));
    QCOMPARE(t.S.Sim_Address, uint8_t(1));
    QCOMPARE(t.S.Led_Address, uint8_t(0));
    for (int a = 1; a <= 128; ++a)
        QVERIFY2(!t.S.Alarm_Latch(a), qPrintable(QString::number(a)));

    const QString polls = Polls({1, 2, 3, 1});
    QVERIFY(Run_Until_Wire(h, polls));
    QCOMPARE(Wire(h), polls);
    for (int a = 1; a <= 3; ++a)
        QCOMPARE(t.F.Adr_Box(a).BackColor(), Green);

    t.F.Adr_Status_Cde.click();
    QVERIFY(Legend_Shown(t, false));
    QVERIFY(h.run_until([&] { return Stopped(h); }, 5000));

    QCOMPARE(Wire(h), Join({polls, Probe}));
    QCOMPARE(t.F.Adr_Status_Cde.Caption(), Idle_Caption);
    QVERIFY(t.F.Adr_Status_Cde.Visible());
    QVERIFY(t.F.Start_Bus_Cmd.Visible());
    QCOMPARE(t.F.Current_Operation_Lbl.Caption(), Waiting);
    QVERIFY(!t.S.Grid_Locked);
    QCOMPARE(t.S.Simulation_Active.raw(), int16_t(0));
    QVERIFY(Legend_Shown(t, false));
    QCOMPARE(t.F.Timer_Tache.interval(), 100);
    QVERIFY(!t.F.Status_Frame.Visible());
    for (int a = 1; a <= 3; ++a)
        QCOMPARE(t.F.Adr_Box(a).BackColor(), Found_Colour);
    QCOMPARE(t.F.Adr_Box(4).BackColor(), Searched_Grey);
    QCOMPARE(t.F.Adr_Box(9).BackColor(), Red);
    QCOMPARE(t.F.Adr_Box(128).BackColor(), uint(0x00C0C0C0));
}

void Tst_Simulation::point_colour_data() {
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("state");
    QTest::addColumn<int>("wrong_echo"); // 0: the frame goes through
    QTest::addColumn<uint>("colour");
    QTest::addColumn<bool>("led");

    QTest::newRow("standby 00") << 0x00 << 0x00 << 0 << Green << false;
    QTest::newRow("other bits 06") << 0x00 << 0x06 << 0 << Green << false;
    QTest::newRow("other bits F6") << 0x00 << 0xF6 << 0 << Green << false;
    QTest::newRow("alarm 01") << 0x00 << 0x01 << 0 << Red << true;
    QTest::newRow("alarm and fault 09") << 0x00 << 0x09 << 0 << Red << true;
    QTest::newRow("alarm FF") << 0x00 << 0xFF << 0 << Red << true;
    QTest::newRow("fault 08") << 0x00 << 0x08 << 0 << Orange << false;
    QTest::newRow("fault with others 0E") << 0x00 << 0x0E << 0 << Orange << false;
    QTest::newRow("status 01, state 00") << 0x01 << 0x00 << 0 << Yellow << false;
    QTest::newRow("status 01, state 01") << 0x01 << 0x01 << 0 << Yellow << false;
    QTest::newRow("status 01, state 09") << 0x01 << 0x09 << 0 << Yellow << false;
    QTest::newRow("status 80, state 08") << 0x80 << 0x08 << 0 << Yellow << false;
    QTest::newRow("wrong echo of the address") << 0x00 << 0x01 << 3 << Yellow << false;
    QTest::newRow("wrong echo of the command") << 0x00 << 0x01 << 2 << Yellow << false;
}

void Tst_Simulation::point_colour() {
    QFETCH(int, status);
    QFETCH(int, state);
    QFETCH(int, wrong_echo);
    QFETCH(uint, colour);
    QFETCH(bool, led);

    loopsim::Loop loop = Loop_Of(1, {{1, uint8_t(state)}});
    loop.detectors[1].poll_status = uint8_t(status);
    Harness h(loop);
    QVERIFY(Start_Connected(h));
    Found(h.t, 1);
    h.board.set_wrong_echo(wrong_echo);
    h.board.clear_traffic();
    h.t.F.Adr_Status_Cde.click();

    QVERIFY(h.run_until([&] { return h.t.F.Adr_Box(1).BackColor() != Found_Colour; }, 5000));
    QCOMPARE(h.t.F.Adr_Box(1).BackColor(), colour);
    QCOMPARE(bool(h.t.S.Alarm_Latch(1)), led);
    QCOMPARE(h.t.S.Task_State, int16_t(led ? Task::Led_Command : Task::Simulation_Poll));
    QCOMPARE(h.t.S.Sim_Address, uint8_t(1));
    if (wrong_echo == 0) {
        const QString wire = Join({Poll(1), led ? Led_On(1) : QString(), Poll(1)});
        QVERIFY(Run_Until_Wire(h, wire));
        QCOMPARE(Wire(h), wire);
    }
}

void Tst_Simulation::alarm_led_once_per_run() {
    Harness h(Loop_Of(2, {{1, 0x01}}));
    QVERIFY(Start_Connected(h));
    Tool& t = h.t;
    Found(t, 2);
    h.board.clear_traffic();
    t.F.Adr_Status_Cde.click();

    const QString first_run = Join({Poll(1), Led_On(1), Polls({2, 1, 2, 1})});
    QVERIFY(Run_Until_Wire(h, first_run));
    QCOMPARE(Wire(h), first_run);
    QCOMPARE(t.S.Led_Address, uint8_t(1));
    QVERIFY(h.board.loop().detectors[1].led);
    // No mark is put on the grid while the simulation runs.
    QVERIFY(!t.F.Led_Shp(1).Visible());

    t.F.Adr_Status_Cde.click();
    QVERIFY(h.run_until([&] { return Stopped(h); }, 5000));
    // The stop leaves the LED lit and remembered.
    QCOMPARE(t.S.Led_Address, uint8_t(1));
    QVERIFY(h.board.loop().detectors[1].led);

    t.F.Adr_Status_Cde.click();
    // A new run forgets the LED lit before: no switch-off frame, the LED is asked for again.
    const QString wire = Join({first_run, Probe, Poll(1), Led_On(1), Polls({2, 1})});
    QVERIFY(Run_Until_Wire(h, wire));
    QCOMPARE(Wire(h), wire);
}

void Tst_Simulation::two_alarms_in_a_row() {
    Harness h(Loop_Of(4, {{2, 0x01}, {3, 0x09}}));
    QVERIFY(Start_Connected(h));
    Tool& t = h.t;
    Found(t, 4);
    h.board.clear_traffic();
    t.F.Adr_Status_Cde.click();

    const QString wire =
        Join({Polls({1, 2}), Led_On(2), Poll(3), Led_Off(2), Led_On(3), Polls({4, 1, 2, 3, 4})});
    QVERIFY(Run_Until_Wire(h, wire));
    QCOMPARE(Wire(h), wire);
    QCOMPARE(t.S.Led_Address, uint8_t(3));
    QCOMPARE(t.S.Sel_Adr, uint8_t(3));
    QVERIFY(!h.board.loop().detectors[2].led);
    QVERIFY(h.board.loop().detectors[3].led);
    QCOMPARE(t.F.Adr_Box(2).BackColor(), Red);
    QCOMPARE(t.F.Adr_Box(3).BackColor(), Red);
    QCOMPARE(t.F.Adr_Box(4).BackColor(), Green);
}

void Tst_Simulation::poll_order_data() {
    QTest::addColumn<int>("count");
    QTest::addColumn<QList<int>>("types"); // type index of 1..count
    QTest::addColumn<QString>("wire");

    QTest::newRow("one address, every tick") << 1 << QList<int>{2} << Polls({1, 1, 1, 1});
    QTest::newRow("unidentified types polled")
        << 4 << QList<int>{0, 4, 0, 0} << Polls({1, 2, 3, 4, 1, 2});
}

void Tst_Simulation::poll_order() {
    QFETCH(int, count);
    QFETCH(QList<int>, types);
    QFETCH(QString, wire);

    Harness h(Loop_Of(count));
    QVERIFY(Start_Connected(h));
    std::map<int, uint8_t> by_address;
    for (int a = 1; a <= count; ++a)
        by_address[a] = uint8_t(types.at(a - 1));
    Found(h.t, count, by_address);
    h.board.clear_traffic();
    h.t.F.Adr_Status_Cde.click();

    QVERIFY(Run_Until_Wire(h, wire));
    QCOMPARE(Wire(h), wire);
    for (int a = 1; a <= count; ++a)
        QCOMPARE(h.t.F.Adr_Box(a).BackColor(), Green);
}

void Tst_Simulation::keys_and_grid() {
    Harness h(Loop_Of(3));
    QVERIFY(Start_Connected(h));
    Tool& t = h.t;
    Found(t, 3);
    t.F.Adr_Status_Cde.setVisible(false);

    Form_KeyDown(t, vbKeyF9, 0);
    QCOMPARE(t.S.Task_State, int16_t(Task::Idle_Status));
    QVERIFY(!t.S.Simulation_Active);
    QVERIFY(Legend_Shown(t, false));
    QCOMPARE(t.F.Adr_Status_Cde.Caption(), Idle_Caption);

    t.F.Adr_Status_Cde.setVisible(true);
    t.S.Sel_Adr = 3;
    h.board.clear_traffic();
    Form_KeyDown(t, vbKeyF9, 0);
    QVERIFY(t.S.Simulation_Active);

    QVERIFY(Run_Until_Wire(h, Polls({1})));
    t.F.Adr_Box(2).click();
    QCOMPARE(t.S.Sel_Adr, uint8_t(3));
    QVERIFY(!t.F.Status_Frame.Visible());
    const QString wire = Polls({1, 2, 3, 1});
    QVERIFY(Run_Until_Wire(h, wire));
    QCOMPARE(Wire(h), wire);
    QCOMPARE(t.S.Sel_Adr, uint8_t(3));

    Form_KeyDown(t, vbKeyF9, 0);
    QVERIFY(h.run_until([&] { return Stopped(h); }, 5000));
    QCOMPARE(Wire(h), Join({wire, Probe}));
}

void Tst_Simulation::stop_during_slow_reply_data() {
    QTest::addColumn<int>("trigger"); // byte whose arrival at the board brings the click
    QTest::addColumn<QString>("wire");

    // The poll sees a new alarm and hands over to the LED state: the stop still wins.
    QTest::newRow("during the poll") << 0x10 << Join({Poll(1), Probe});
    // The LED state ends by going back to polling: the stop still wins.
    QTest::newRow("during the LED state") << 0x82 << Join({Poll(1), Led_On(1), Probe});
}

void Tst_Simulation::stop_during_slow_reply() {
    QFETCH(int, trigger);
    QFETCH(QString, wire);

    Harness h(Loop_Of(2, {{1, 0x01}}));
    QVERIFY(Start_Connected(h));
    Tool& t = h.t;
    Found(t, 2);
    h.board.set_reply_delay(60);
    h.board.clear_traffic();
    t.F.Adr_Status_Cde.click();

    bool legend_hidden_at_once = false;
    On_Byte click(h, quint8(trigger), [&] {
        t.F.Adr_Status_Cde.click();
        legend_hidden_at_once = Legend_Shown(t, false);
    });
    QVERIFY(h.run_until([&] { return Stopped(h); }, 10000));
    QVERIFY(click.fired);
    QVERIFY(legend_hidden_at_once);
    QCOMPARE(Wire(h), wire);
    QCOMPARE(t.F.Adr_Status_Cde.Caption(), Idle_Caption);
    QCOMPARE(t.F.Current_Operation_Lbl.Caption(), Waiting);
    QVERIFY(!t.S.Grid_Locked);
    QVERIFY(t.F.Start_Bus_Cmd.Visible());
    QCOMPARE(t.F.Adr_Box(1).BackColor(), Found_Colour);

    // Nothing is left running: the task stays idle.
    h.board.clear_traffic();
    h.board.set_reply_delay(0);
    h.run_for(350);
    QVERIFY(!Wire(h).contains(QStringLiteral("40 10")));
}

void Tst_Simulation::start_during_step_data() {
    QTest::addColumn<int>("state");   // step running when the click comes
    QTest::addColumn<int>("trigger"); // byte whose arrival at the board brings the click
    QTest::addColumn<QString>("wire");

    // The probe ends by choosing the idle state, the readout by choosing the probe.
    QTest::newRow("probe") << int(Task::Probe_Interface) << 0x01 << Join({Probe, Polls({1, 2, 1})});
    QTest::newRow("readout") << int(Task::Read_Identity) << 0x14
                             << Join({Hex({0x40, 0x14, 1, 0}), Hex({0x40, 0x15, 1, 0}),
                                      Hex({0x40, 0x08, 1, 0}), Hex({0x40, 0x09, 1, 0}),
                                      Hex({0x40, 0x0A, 1, 0}), Hex({0x40, 0x0B, 1, 0}),
                                      Polls({1, 2, 1})});
}

void Tst_Simulation::start_during_step() {
    QFETCH(int, state);
    QFETCH(int, trigger);
    QFETCH(QString, wire);

    Harness h(Loop_Of(2));
    QVERIFY(Start_Connected(h));
    Tool& t = h.t;
    Found(t, 2);
    h.board.set_reply_delay(40);
    h.board.clear_traffic();
    t.S.Sel_Adr = 1;
    t.S.Task_State = int16_t(state);

    bool shown_at_once = false;
    On_Byte click(h, quint8(trigger), [&] {
        t.F.Adr_Status_Cde.click();
        shown_at_once = Legend_Shown(t, true) && t.F.Adr_Status_Cde.Caption() == Stop_Caption &&
                        t.S.Grid_Locked;
    });
    QVERIFY(Run_Until_Wire(h, wire));
    QVERIFY(click.fired);
    QVERIFY(shown_at_once);
    QCOMPARE(Wire(h), wire);
    QVERIFY(t.S.Simulation_Active);
    QCOMPARE(t.F.Current_Operation_Lbl.Caption(), Running);
}

void Tst_Simulation::search_asked_before_start_data() {
    QTest::addColumn<bool>("rearm_answers");
    QTest::addColumn<QString>("wire");

    QTest::newRow("re-arm done") << true << QStringLiteral("08 04 03");
    QTest::newRow("re-arm failed") << false << QStringLiteral("08 04");
}

// F5 then F9 while a step waits: the search queued first takes the bus and the grid, and the
// run the second key started is called off instead of polling over the search.
void Tst_Simulation::search_asked_before_start() {
    QFETCH(bool, rearm_answers);
    QFETCH(QString, wire);

    loopsim::Loop loop = Loop_Of(2);
    loop.rearm_answers = rearm_answers;
    Harness h(loop);
    QVERIFY(Start_Connected(h));
    Tool& t = h.t;
    Found(t, 2);
    h.board.set_reply_delay(40);
    h.board.clear_traffic();

    On_Byte keys(h, 0x08, [&] {
        Form_KeyDown(t, vbKeyF5, 0);
        Form_KeyDown(t, vbKeyF9, 0);
    });
    QVERIFY(h.run_until([&] { return keys.fired && t.S.Task_State != Task::Idle_Status; }, 10000));
    QCOMPARE(Wire(h), wire);
    QVERIFY(!t.S.Simulation_Active);
    QVERIFY(Legend_Shown(t, false));
    QCOMPARE(t.F.Adr_Status_Cde.Caption(), Idle_Caption);
    QVERIFY(t.F.Current_Operation_Lbl.Caption() != Running);
    if (rearm_answers) {
        QCOMPARE(t.S.Task_State, int16_t(Task::Search_Addresses));
        QVERIFY(t.S.Grid_Locked);
    } else {
        QCOMPARE(t.S.Task_State, int16_t(Task::Probe_Interface));
        QVERIFY(!t.S.Grid_Locked);
        QCOMPARE(t.F.Current_Operation_Lbl.Caption(), Waiting);
        QVERIFY(t.F.Start_Bus_Cmd.Visible());
    }
}

QTEST_GUILESS_MAIN(Tst_Simulation)
#include "tst_simulation.moc"
