#include "addresses/identity.h"
#include "addresses_fixture.h"
#include "engine/requests.h"

#include <QSet>
#include <QtTest>

namespace {

const QString Designed_Name = QString::fromUtf8("Paramètre 1 =");

void Show_Mode_Controls(Bus_Form& f) {
    for (Control* c : {&f.Opto_Check, &f.Thermo_Check, &f.Picture1, &f.Picture2})
        c->setVisible(true);
}

} // namespace

class Tst_Identity : public QObject {
    Q_OBJECT
  private slots:
    void identity_data();
    void identity();
    void unfound_cell_data();
    void unfound_cell();
    void no_selection_reads_nothing();
    void click_during_readout();
    void short_replies_read_as_failures();
};

// Detectors without parameter rows, so only rows 0 to 4 are read.
void Tst_Identity::identity_data() {
    QTest::addColumn<int>("type_code");
    QTest::addColumn<int>("type_index");
    QTest::addColumn<QString>("type_name");
    QTest::addColumn<int>("pcb");
    QTest::addColumn<int>("soft");
    QTest::addColumn<QByteArray>("serial");
    QTest::addColumn<QList<int>>("refused");
    QTest::addColumn<QList<int>>("unanswered");
    QTest::addColumn<QString>("pcb_text");
    QTest::addColumn<QString>("soft_text");
    QTest::addColumn<QString>("serial_text");

    const QList<int> none;
    QTest::newRow("versions 0x12 0x3F, serial 7 12 1 44")
        << 0x21 << 2 << "ZEPHA" << 0x12 << 0x3F << QByteArray("\x07\x0C\x01\x2C", 4) << none << none
        << "1.2"
        << "3.15"
        << "071200300";
    QTest::newRow("versions 0x00 0xFF, serial 0 0 0 0")
        << 0x42 << 4 << "MURO-S3" << 0x00 << 0xFF << QByteArray(4, '\0') << none << none << "0.0"
        << "15.15"
        << "000000000";
    QTest::newRow("third serial part 32768 (S2 = 128)")
        << 0x17 << 5 << "KTRW" << 0x3F << 0x10 << QByteArray("\x12\x34\x80\x00", 4) << none << none
        << "3.15"
        << "1.0"
        << "185232768";
    QTest::newRow("third serial part 65535")
        << 0x21 << 2 << "ZEPHA" << 0x31 << 0xA0 << QByteArray("\x63\x63\xFF\xFF", 4) << none << none
        << "3.1"
        << "10.0"
        << "999965535";
    QTest::newRow("first serial byte 0xFF reads as incomplete")
        << 0x21 << 2 << "ZEPHA" << 0x12 << 0x31 << QByteArray("\xFF\x01\x02\x03", 4) << none << none
        << "1.2"
        << "3.1"
        << "???";
    QTest::newRow("PCB version refused")
        << 0x21 << 2 << "ZEPHA" << 0x12 << 0x31 << QByteArray("\x07\x0C\x01\x2C", 4)
        << QList<int>{0x14} << none << "???"
        << "3.1"
        << "071200300";
    QTest::newRow("first serial read refused")
        << 0x21 << 2 << "ZEPHA" << 0x12 << 0x31 << QByteArray("\x07\x0C\x01\x2C", 4)
        << QList<int>{0x08} << none << "1.2"
        << "3.1"
        << "???";
    QTest::newRow("second serial read refused")
        << 0x21 << 2 << "ZEPHA" << 0x12 << 0x31 << QByteArray("\x07\x0C\x01\x2C", 4)
        << QList<int>{0x09} << none << "1.2"
        << "3.1"
        << "???";
    QTest::newRow("last serial read refused")
        << 0x21 << 2 << "ZEPHA" << 0x12 << 0x31 << QByteArray("\x07\x0C\x01\x2C", 4)
        << QList<int>{0x0B} << none << "1.2"
        << "3.1"
        << "???";
    QTest::newRow("second serial read unanswered")
        << 0x21 << 2 << "ZEPHA" << 0x12 << 0x31 << QByteArray("\x07\x0C\x01\x2C", 4) << none
        << QList<int>{0x09} << "1.2"
        << "3.1"
        << "???";
}

void Tst_Identity::identity() {
    QFETCH(int, type_code);
    QFETCH(int, type_index);
    QFETCH(QString, type_name);
    QFETCH(int, pcb);
    QFETCH(int, soft);
    QFETCH(QByteArray, serial);
    QFETCH(QList<int>, refused);
    QFETCH(QList<int>, unanswered);
    QFETCH(QString, pcb_text);
    QFETCH(QString, soft_text);
    QFETCH(QString, serial_text);

    const int adr = 37;
    loopsim::Loop loop;
    loopsim::Detector d = Make_Detector(uint8_t(type_code));
    d.pcb_version = uint8_t(pcb);
    d.soft_version = uint8_t(soft);
    for (int i = 0; i < 4; ++i)
        d.serial[size_t(i)] = uint8_t(serial[i]);
    for (int c : refused)
        d.refused.insert(c);
    for (int c : unanswered)
        d.silent.insert(c);
    d.params = {{1, 9}, {12, 9}}; // never asked: these types have no parameter rows
    loop.detectors[adr] = d;

    Harness h(loop);
    QVERIFY(Start_Connected(h));
    Mark_Found(h.t, adr, uint8_t(type_index), type_name);
    Show_Mode_Controls(h.t.F);
    Wire_Log log(h);
    log.clear();
    QList<int> pointers;
    log.on_byte = [&](quint8) { pointers << h.t.Screen.MousePointer(); };

    QVERIFY(Run_Readout(h, adr));

    QCOMPARE(log.text(), Join({Identity_Wire(adr), "01"}));
    QCOMPARE(log.bytes(), log.board_bytes());
    pointers.removeLast(); // the probe after the readout
    QCOMPARE(pointers, QList<int>(24, Screen_Pointer::Hourglass));

    Bus_Form& f = h.t.F;
    const QStringList names = {"Adresse", QString::fromUtf8("Type détecteur"), "Version PCB",
                               "Version Soft", QString::fromUtf8("N° série")};
    const QStringList values = {"037", type_name, pcb_text, soft_text, serial_text};
    for (int r = 0; r <= 4; ++r) {
        QCOMPARE(f.Param_Lbl(r).Caption(), names[r]);
        QCOMPARE(f.Value_Lbl(r).Caption(), values[r]);
        QVERIFY(f.Param_Lbl(r).Visible());
        QVERIFY(f.Value_Lbl(r).Visible());
    }
    for (int r = 5; r <= 15; ++r) {
        QVERIFY(!f.Param_Lbl(r).Visible());
        QVERIFY(!f.Value_Lbl(r).Visible());
    }
    for (Control* c : {&f.Opto_Check, &f.Thermo_Check, &f.Picture1, &f.Picture2})
        QVERIFY(!c->Visible());
    QCOMPARE(f.Status_Frame.Caption(), QStringLiteral("Position 037"));
    QVERIFY(f.Led_Off_Cde.Visible());
    if (serial_text == QLatin1String("???"))
        QCOMPARE(int(h.t.S.Serial_Bytes[0]), 0xFF);
    else
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(h.t.S.Serial_Bytes.data()), 4), serial);
}

void Tst_Identity::unfound_cell_data() {
    QTest::addColumn<bool>("after_readout");
    QTest::newRow("before any readout") << false;
    QTest::newRow("after a full readout") << true;
}

// A cell the search did not find: no frame at all, the address and "???" only.
void Tst_Identity::unfound_cell() {
    QFETCH(bool, after_readout);
    loopsim::Loop loop;
    loop.detectors[7] = Make_Detector(0x13); // on the loop, but the grid does not know it
    loop.detectors[8] = Make_Detector(0x21);
    Harness h(loop);
    QVERIFY(Start_Connected(h));
    if (after_readout) {
        Mark_Found(h.t, 8, 2, QStringLiteral("ZEPHA"));
        QVERIFY(Run_Readout(h, 8));
    }
    Wire_Log log(h);
    log.clear();

    QVERIFY(Run_Readout(h, 7));

    QCOMPARE(log.text(), QStringLiteral("01"));
    Bus_Form& f = h.t.F;
    QCOMPARE(f.Status_Frame.Caption(), QStringLiteral("Position 007"));
    QCOMPARE(f.Param_Lbl(0).Caption(), QStringLiteral("Adresse"));
    QCOMPARE(f.Value_Lbl(0).Caption(), QStringLiteral("007"));
    QCOMPARE(f.Param_Lbl(1).Caption(), QString::fromUtf8("Type détecteur"));
    QCOMPARE(f.Value_Lbl(1).Caption(), QStringLiteral("???"));
    const QStringList kept =
        after_readout ? QStringList{"Version PCB", "Version Soft", QString::fromUtf8("N° série")}
                      : QStringList{Designed_Name, Designed_Name, Designed_Name};
    for (int r = 0; r <= 4; ++r) {
        QVERIFY(f.Param_Lbl(r).Visible());
        QVERIFY(f.Value_Lbl(r).Visible());
        if (r >= 2) {
            QCOMPARE(f.Param_Lbl(r).Caption(), kept[r - 2]);
            QCOMPARE(f.Value_Lbl(r).Caption(), QStringLiteral("???"));
        }
    }
    for (int r = 5; r <= 15; ++r)
        QVERIFY(!f.Value_Lbl(r).Visible());
    QVERIFY(f.Led_On_Cde.Visible());
    QVERIFY(f.Led_Off_Cde.Visible());
}

// State 5 reached without a grid click (Sel_Adr still 0) must read nothing and end normally.
void Tst_Identity::no_selection_reads_nothing() {
    Harness h(loopsim::Loop{});
    QVERIFY(Start_Connected(h));
    Wire_Log log(h);
    log.clear();
    h.t.S.Task_State = Task::Read_Identity;
    QVERIFY(h.run_until([&h] { return h.t.S.Task_State == Task::Idle_Status; }, 5000));
    QCOMPARE(log.text(), QStringLiteral("01"));
    QCOMPARE(h.t.F.Value_Lbl(0).Caption(), QStringLiteral("000"));
    QCOMPARE(h.t.F.Value_Lbl(1).Caption(), QStringLiteral("???"));
    QCOMPARE(h.t.Screen.MousePointer(), int(Screen_Pointer::Default));
}

// Cell 9 is clicked while cell 5's readout waits for its second serial byte. That readout stops
// after the frame under way, cell 9 is read in full next, and at no moment does the panel show
// a value of one detector under the other's position.
void Tst_Identity::click_during_readout() {
    loopsim::Loop loop;
    loopsim::Detector a = Make_Detector(0x1A);
    a.pcb_version = 0x11;
    a.soft_version = 0x12;
    a.serial = {1, 2, 3, 4};
    for (int c : {1, 2, 3, 4, 5, 6, 7, 12, 15})
        a.params[uint8_t(c)] = 17;
    a.mode = 0x00;
    loopsim::Detector b = Make_Detector(0x13);
    b.pcb_version = 0x22;
    b.soft_version = 0x23;
    b.serial = {5, 6, 7, 8};
    for (int c : {1, 2, 3, 4, 5, 6, 7, 12, 15})
        b.params[uint8_t(c)] = 34;
    loop.detectors[5] = a;
    loop.detectors[9] = b;

    Harness h(loop);
    QVERIFY(Start_Connected(h));
    Mark_Found(h.t, 5, 3, QStringLiteral("DLX508B"));
    Mark_Found(h.t, 9, 1, QStringLiteral("KOR"));

    const QSet<QString> shared = {"???", ""};
    QMap<int, QSet<QString>> allowed;
    allowed[5] = shared + QSet<QString>{"005",
                                        "DLX508B",
                                        "1.1",
                                        "1.2",
                                        "010200772",
                                        "017",
                                        QString::fromUtf8("Optique Thermovélo")};
    allowed[9] = shared + QSet<QString>{"009", "KOR", "2.2", "2.3", "050601800", "034"};
    QStringList mixed;
    Bus_Form& f = h.t.F;
    auto check = [&] {
        const int shown = f.Status_Frame.Caption().mid(9).toInt();
        for (int r = 0; r <= 15; ++r)
            if (f.Value_Lbl(r).Visible() && allowed.contains(shown) &&
                !allowed[shown].contains(f.Value_Lbl(r).Caption()))
                mixed << QStringLiteral("%1 row %2: %3")
                             .arg(f.Status_Frame.Caption())
                             .arg(r)
                             .arg(f.Value_Lbl(r).Caption());
    };
    QObject context;
    QObject::connect(&f.Status_Frame, &Control::changed, &context, check);
    for (int r = 0; r <= 15; ++r)
        QObject::connect(&f.Value_Lbl(r), &Control::changed, &context, check);

    Wire_Log log(h);
    log.clear();
    bool fired = false, clicked_in_step = false;
    quint8 previous = 0;
    log.on_byte = [&](quint8 byte) {
        if (!fired && previous == 0x40 && byte == 0x09) {
            fired = true;
            h.board.set_reply_delay(100); // the click surely comes while the frame waits
            QTimer::singleShot(0, &f, [&] {
                clicked_in_step = h.t.Bus_Busy > 0;
                f.Adr_Box(9).click();
            });
        } else {
            h.board.set_reply_delay(0);
        }
        previous = byte;
    };

    f.Adr_Box(5).click();
    QVERIFY(h.run_until(
        [&h] {
            return h.t.S.Sel_Adr == 9 && h.t.S.Task_State == Task::Idle_Status &&
                   h.t.F.Led_On_Cde.Visible();
        },
        10000));

    QVERIFY(clicked_in_step);
    QCOMPARE(log.text(), Join({Hex({0x40, 0x14, 5, 0}), "P", Hex({0x40, 0x15, 5, 0}), "P",
                               Hex({0x40, 0x08, 5, 0}), "P", Hex({0x40, 0x09, 5, 0}),
                               Identity_Wire(9), Params_Wire(9, false), "01"}));
    QVERIFY2(mixed.isEmpty(), qPrintable(mixed.join(QLatin1String("; "))));
    QCOMPARE(f.Status_Frame.Caption(), QStringLiteral("Position 009"));
    QCOMPARE(f.Value_Lbl(0).Caption(), QStringLiteral("009"));
    QCOMPARE(f.Value_Lbl(4).Caption(), QStringLiteral("050601800"));
    for (int r = 5; r <= 13; ++r)
        QCOMPARE(f.Value_Lbl(r).Caption(), QStringLiteral("034"));
    QVERIFY(!f.Value_Lbl(14).Visible());
    QVERIFY(!f.Opto_Check.Visible());
    QCOMPARE(h.t.Screen.MousePointer(), int(Screen_Pointer::Default));
}

// Every frame succeeds but brings back one byte of the two read: nothing is shown as a value.
void Tst_Identity::short_replies_read_as_failures() {
    Tool t;
    Short_Reply_Port* port = Use_Short_Reply_Port(t);
    Mark_Found(t, 5, 3, QStringLiteral("DLX508B"));
    t.S.Sel_Adr = 5;
    {
        Bus_Busy_Scope step(t);
        Read_Identity(t);
    }
    QCOMPARE(port->sent.size(), 16 * 4);
    for (int r = 2; r <= 13; ++r)
        QCOMPARE(t.F.Value_Lbl(r).Caption(), QStringLiteral("???"));
    QCOMPARE(int(t.S.Serial_Bytes[0]), 0xFF);
    QVERIFY(!t.F.Value_Lbl(14).Visible());
    QVERIFY(!t.F.Opto_Check.Visible());
    QCOMPARE(t.S.Task_State, int16_t(Task::Probe_Interface));
}

QTEST_MAIN(Tst_Identity)
#include "tst_identity.moc"
