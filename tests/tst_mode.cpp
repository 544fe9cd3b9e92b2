#include "support/harness.h"

#include "detector/mode.h"

#include <QElapsedTimer>
#include <QtTest>
#include <functional>
#include <initializer_list>

namespace {

const QString Refusal = QString::fromUtf8("Il doit y avoir au moins un capteur activé !");
const QString Refusal_Title = QString::fromUtf8("Sélection Capteur");

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

const QString Probe = QStringLiteral("01");

QString Write(int adr, int data) {
    return Join({Hex({0x41, 0x96, adr, data}), Hex({0x41, 0x85, adr, 0x00})});
}

// Identity, parameters and mode of a DLX508B, as the readout after a write asks for them.
QString Readout(int adr) {
    QStringList parts;
    for (int code : {0x14, 0x15, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06,
                     0x07, 0x0F, 0x18})
        parts << Hex({0x40, code, adr, 0x00});
    return Join(parts);
}

loopsim::Detector Dlx(uint8_t mode) {
    loopsim::Detector d;
    d.type_code = 0x1A;
    d.params = {{1, 40}, {2, 10}, {3, 3}, {4, 2}, {5, 7}, {6, 1}, {7, 4}, {12, 90}, {15, 5}};
    d.mode = mode;
    return d;
}

loopsim::Loop Two_Detectors(uint8_t mode1, uint8_t mode2 = 0) {
    loopsim::Loop loop;
    loop.script.clear();
    loop.detectors[1] = Dlx(mode1);
    loop.detectors[2] = Dlx(mode2);
    return loop;
}

QString Wire(Harness& h) {
    return QString::fromLatin1(h.board.received().toHex(' '));
}
int Byte_Count(const QString& wire) {
    return wire.isEmpty() ? 0 : (wire.size() + 1) / 3;
}

bool Run_Until_Wire(Harness& h, const QString& expected, int ms = 10000) {
    const int n = Byte_Count(expected);
    return h.run_until([&] { return h.board.received().size() >= n; }, ms);
}

bool Idle(Harness& h) {
    return h.t.S.Task_State == Task::Idle_Status && h.t.F.Led_On_Cde.Visible() &&
           h.t.Screen.MousePointer() == Screen_Pointer::Default;
}

// Connected, both detectors found, and the panel showing detector `adr` as its readout left it.
bool Panel_On(Harness& h, int adr) {
    h.load();
    if (!h.run_until([&h] { return h.t.S.Task_State == Task::Idle_Status && h.t.S.Connected; },
                     5000))
        return false;
    Tool& t = h.t;
    t.S.Adr_Count = 2;
    for (int a = 1; a <= 2; ++a) {
        t.S.Adr_Type[a - 1] = 3;
        t.F.Adr_Box(a).setCaption(QStringLiteral("%1\nDLX508B").arg(a, 3, 10, QLatin1Char('0')));
    }
    t.F.Adr_Box(adr).click();
    return h.run_until([&h] { return Idle(h); }, 10000) && t.F.Opto_Check.Visible();
}

// Connected, detectors 1 and 2 found, and the panel showing detector `adr` with the boxes a
// readout would have left for that display (a quicker start than a readout).
bool Panel_Set(Harness& h, int adr, int opto, int thermo) {
    h.load();
    if (!h.run_until([&h] { return h.t.S.Task_State == Task::Idle_Status && h.t.S.Connected; },
                     5000))
        return false;
    Tool& t = h.t;
    t.S.Adr_Count = 2;
    t.S.Adr_Type[0] = t.S.Adr_Type[1] = 3;
    t.S.Sel_Adr = uint8_t(adr);
    t.F.Status_Frame.setVisible(true);
    for (int r = 0; r <= 14; ++r) {
        t.F.Param_Lbl(r).setVisible(true);
        t.F.Value_Lbl(r).setVisible(true);
    }
    t.S.Check_Lock = true;
    t.F.Opto_Check.setValue(opto);
    t.F.Thermo_Check.setValue(thermo);
    t.S.Sensor_Mode = uint8_t((opto ? 0 : 0x02) | (thermo ? 0 : 0x01));
    t.S.Check_Lock = false;
    t.F.Opto_Check.setVisible(true);
    t.F.Thermo_Check.setVisible(true);
    return true;
}

// The user's click on a check box: the window turns its value over.
void Toggle(Control& box) {
    box.setValue(box.Value() ? 0 : 1);
}

Control& Box(Tool& t, const QString& name) {
    return name == QLatin1String("opto") ? t.F.Opto_Check : t.F.Thermo_Check;
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

// When the board received each byte, in ms.
class Byte_Times {
  public:
    explicit Byte_Times(Harness& h) {
        clock_.start();
        QObject::connect(&h.board, &loopsim::Board::byte_received, &context_,
                         [this](quint8) { at << clock_.elapsed(); });
    }
    QList<qint64> at;

  private:
    QElapsedTimer clock_;
    QObject context_;
};

} // namespace

class Tst_Mode : public QObject {
    Q_OBJECT
  private slots:
    void mode_change_data();
    void mode_change();
    void read_back_data();
    void read_back();
    void no_write_while_readout_sets_boxes_data();
    void no_write_while_readout_sets_boxes();
    void click_during_slow_reply_data();
    void click_during_slow_reply();
    void stale_boxes_data();
    void stale_boxes();
    void mode_byte_sent_data();
    void mode_byte_sent();
    void value_rows();
};

void Tst_Mode::mode_change_data() {
    QTest::addColumn<int>("opto"); // the boxes before the click
    QTest::addColumn<int>("thermo");
    QTest::addColumn<QString>("box");
    QTest::addColumn<bool>("refused");
    QTest::addColumn<int>("data"); // written with 0x96

    QTest::newRow("both on, optique off") << 1 << 1 << "opto" << false << 0x02;
    QTest::newRow("both on, thermique off") << 1 << 1 << "thermo" << false << 0x01;
    QTest::newRow("optique back on") << 0 << 1 << "opto" << false << 0x00;
    QTest::newRow("thermique back on") << 1 << 0 << "thermo" << false << 0x00;
    QTest::newRow("thermique off refused") << 0 << 1 << "thermo" << true << 0x02;
    QTest::newRow("optique off refused") << 1 << 0 << "opto" << true << 0x01;
}

void Tst_Mode::mode_change() {
    QFETCH(int, opto);
    QFETCH(int, thermo);
    QFETCH(QString, box);
    QFETCH(bool, refused);
    QFETCH(int, data);

    Harness h(Two_Detectors(0x00));
    QVERIFY(Panel_Set(h, 2, opto, thermo));
    Tool& t = h.t;
    h.board.clear_traffic();
    Byte_Times times(h);

    Control& clicked = Box(t, box);
    const int before = clicked.Value();
    Toggle(clicked);

    QCOMPARE(clicked.Value(), refused ? before : 1 - before);
    QCOMPARE(int(t.S.Sensor_Mode), data);
    QCOMPARE(h.dialogs.messages.size(), refused ? 1 : 0);
    if (refused) {
        QCOMPARE(h.dialogs.messages[0].prompt, Refusal);
        QCOMPARE(h.dialogs.messages[0].style, 64);
        QCOMPARE(h.dialogs.messages[0].title, Refusal_Title);
    }

    const QString wire = Write(2, data);
    QVERIFY(Run_Until_Wire(h, wire));
    QCOMPARE(Wire(h), wire);
    QCOMPARE(h.t.S.Task_State, int16_t(Task::Read_Identity));
    QCOMPARE(int(h.board.loop().detectors[2].mode), data);
    QCOMPARE(h.dialogs.messages.size(), refused ? 1 : 0);
    // The commit follows the 100 ms pause after the write.
    QVERIFY2(times.at.size() > 4 && times.at[4] - times.at[3] >= 95,
             qPrintable(QString::number(times.at.value(4) - times.at.value(3))));
}

void Tst_Mode::read_back_data() {
    QTest::addColumn<int>("mode"); // the detector's mode byte, shown by a readout first
    QTest::addColumn<QString>("box");
    QTest::addColumn<int>("data");
    QTest::addColumn<int>("opto"); // the boxes once the write has been read back
    QTest::addColumn<int>("thermo");

    QTest::newRow("optique off") << 0x00 << "opto" << 0x02 << 0 << 1;
    QTest::newRow("both off read, optique off refused") << 0x03 << "opto" << 0x01 << 1 << 0;
}

void Tst_Mode::read_back() {
    QFETCH(int, mode);
    QFETCH(QString, box);
    QFETCH(int, data);
    QFETCH(int, opto);
    QFETCH(int, thermo);

    Harness h(Two_Detectors(uint8_t(mode)));
    QVERIFY(Panel_On(h, 1));
    Tool& t = h.t;
    h.board.clear_traffic();
    Toggle(Box(t, box));

    const QString wire = Join({Write(1, data), Readout(1), Probe});
    QVERIFY(Run_Until_Wire(h, wire));
    QVERIFY(h.run_until([&] { return Idle(h); }, 5000));
    QCOMPARE(Wire(h), wire);
    QCOMPARE(int(h.board.loop().detectors[1].mode), data);
    QCOMPARE(t.F.Opto_Check.Value(), opto);
    QCOMPARE(t.F.Thermo_Check.Value(), thermo);
    QCOMPARE(int(t.S.Sensor_Mode), data);
}

void Tst_Mode::no_write_while_readout_sets_boxes_data() {
    QTest::addColumn<int>("mode1");
    QTest::addColumn<int>("mode2");

    QTest::newRow("thermique off, then optique off") << 0x01 << 0x02;
    QTest::newRow("both off, then both on") << 0x03 << 0x04;
}

void Tst_Mode::no_write_while_readout_sets_boxes() {
    QFETCH(int, mode1);
    QFETCH(int, mode2);

    Harness h(Two_Detectors(uint8_t(mode1), uint8_t(mode2)));
    int clicks = 0;
    QObject context;
    for (Control* box : {&h.t.F.Opto_Check, &h.t.F.Thermo_Check})
        QObject::connect(box, &Control::Click, &context, [&clicks] { ++clicks; });

    QVERIFY(Panel_On(h, 1));
    h.board.clear_traffic();
    h.t.F.Adr_Box(2).click();
    QVERIFY(h.run_until([&] { return Idle(h); }, 10000));

    QVERIFY(clicks >= 2); // both readouts changed at least one box
    QCOMPARE(Wire(h), Join({Readout(2), Probe}));
    QCOMPARE(int(h.board.loop().detectors[1].mode), mode1);
    QCOMPARE(int(h.board.loop().detectors[2].mode), mode2);
    QVERIFY(h.dialogs.messages.isEmpty());
}

void Tst_Mode::click_during_slow_reply_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("box");
    QTest::addColumn<bool>("refused");
    QTest::addColumn<int>("data");

    QTest::newRow("optique off") << 0x00 << "opto" << false << 0x02;
    QTest::newRow("thermique off refused") << 0x02 << "thermo" << true << 0x02;
}

// The click comes while the probe waits for its answer; the probe then chooses the idle state,
// which must not replace the write.
void Tst_Mode::click_during_slow_reply() {
    QFETCH(int, mode);
    QFETCH(QString, box);
    QFETCH(bool, refused);
    QFETCH(int, data);

    Harness h(Two_Detectors(0x00));
    QVERIFY(Panel_Set(h, 1, mode & 0x02 ? 0 : 1, mode & 0x01 ? 0 : 1));
    Tool& t = h.t;
    h.board.set_reply_delay(60);
    h.board.clear_traffic();
    t.S.Task_State = Task::Probe_Interface;

    Control& clicked = Box(t, box);
    const int before = clicked.Value();
    int value_at_once = -1, mode_at_once = -1, messages_at_once = -1;
    On_Byte click(h, 0x01, [&] {
        Toggle(clicked);
        value_at_once = clicked.Value();
        mode_at_once = t.S.Sensor_Mode;
        messages_at_once = h.dialogs.messages.size();
        h.board.set_reply_delay(0);
    });

    const QString wire = Join({Probe, Write(1, data)});
    QVERIFY(Run_Until_Wire(h, wire));
    QVERIFY(click.fired);
    QCOMPARE(value_at_once, refused ? before : 1 - before);
    QCOMPARE(mode_at_once, data);
    QCOMPARE(messages_at_once, refused ? 1 : 0);
    QCOMPARE(Wire(h), wire);
    QCOMPARE(t.S.Task_State, int16_t(Task::Read_Identity));
    QCOMPARE(int(h.board.loop().detectors[1].mode), data);
}

void Tst_Mode::stale_boxes_data() {
    QTest::addColumn<bool>("during_step");
    QTest::addColumn<bool>("box_first");
    QTest::addColumn<QString>("wire");

    QTest::newRow("cell then box, bus free") << false << false << Join({Readout(2), Probe});
    QTest::newRow("cell then box, during a step")
        << true << false << Join({Probe, Readout(2), Probe});
    QTest::newRow("box then cell, during a step")
        << true << true << Join({Probe, Readout(2), Probe});
}

// The boxes still show detector 1 after a click on cell 2: nothing is written to either.
void Tst_Mode::stale_boxes() {
    QFETCH(bool, during_step);
    QFETCH(bool, box_first);
    QFETCH(QString, wire);

    Harness h(Two_Detectors(0x00, 0x00));
    QVERIFY(Panel_Set(h, 1, 1, 1));
    Tool& t = h.t;
    h.board.clear_traffic();

    auto clicks = [&] {
        if (box_first) Toggle(t.F.Opto_Check);
        t.F.Adr_Box(2).click();
        if (!box_first) Toggle(t.F.Opto_Check);
        h.board.set_reply_delay(0);
    };
    std::unique_ptr<On_Byte> trigger;
    if (during_step) {
        h.board.set_reply_delay(40);
        t.S.Task_State = Task::Probe_Interface;
        trigger = std::make_unique<On_Byte>(h, 0x01, clicks);
    } else {
        clicks();
    }

    QVERIFY(Run_Until_Wire(h, wire, 20000));
    QVERIFY(h.run_until([&] { return Idle(h) && t.S.Sel_Adr == 2; }, 5000));
    QCOMPARE(Wire(h), wire);
    QCOMPARE(int(h.board.loop().detectors[1].mode), 0);
    QCOMPARE(int(h.board.loop().detectors[2].mode), 0);
    QCOMPARE(t.F.Opto_Check.Value(), 1);
    QCOMPARE(int(t.S.Sensor_Mode), 0);
}

void Tst_Mode::mode_byte_sent_data() {
    QTest::addColumn<int>("sensor_mode");
    QTest::addColumn<int>("data");

    QTest::newRow("02") << 0x02 << 0x02;
    QTest::newRow("both bits: thermique off") << 0x03 << 0x01;
    QTest::newRow("statique bit") << 0x06 << 0x02;
    QTest::newRow("every bit") << 0xFF << 0x01;
}

// Whatever Sensor_Mode holds, the detector is only ever sent 0x00, 0x01 or 0x02.
void Tst_Mode::mode_byte_sent() {
    QFETCH(int, sensor_mode);
    QFETCH(int, data);

    Harness h(Two_Detectors(0x00));
    QVERIFY(Panel_Set(h, 1, 1, 1));
    h.board.clear_traffic();
    h.t.S.Sensor_Mode = uint8_t(sensor_mode);
    h.t.S.Task_State = Task::Mode_Write;

    const QString wire = Write(1, data);
    QVERIFY(Run_Until_Wire(h, wire));
    QCOMPARE(Wire(h), wire);
    QCOMPARE(h.t.S.Task_State, int16_t(Task::Read_Identity));
}

void Tst_Mode::value_rows() {
    Harness h;
    h.load();
    Tool& t = h.t;
    t.S.Task_State = Task::Idle_Status;

    t.Screen.setMousePointer(Screen_Pointer::Hourglass);
    t.F.Value_Lbl(6).click();
    QCOMPARE(t.Screen.MousePointer(), int(Screen_Pointer::Hourglass));
    QCOMPARE(t.S.Task_State, int16_t(Task::Idle_Status));

    t.F.Param_Lbl(6).click();
    QCOMPARE(t.Screen.MousePointer(), int(Screen_Pointer::Default));

    t.Screen.setMousePointer(Screen_Pointer::Hourglass);
    Value_Lbl_MouseMove(t, 15);
    QCOMPARE(t.Screen.MousePointer(), int(Screen_Pointer::Default));
    QCOMPARE(t.S.Task_State, int16_t(Task::Idle_Status));
}

QTEST_GUILESS_MAIN(Tst_Mode)
#include "tst_mode.moc"
