#include "addresses/search.h"
#include "addresses_fixture.h"
#include "engine/requests.h"

#include <QtTest>

Q_DECLARE_METATYPE(loopsim::Loop)

namespace {

constexpr Vb_Color Grey = 0x00C0C0C0;      // 192,192,192
constexpr Vb_Color Searching = 0x00E0E0E0; // 224,224,224
constexpr Vb_Color Found = 0x00FF8080;     // 128,128,255

QString Rearm() {
    return QStringLiteral("04 P 03");
}
QString Probe(int phase, int adr) {
    return Hex({0x41, 0x80 + phase, adr, 0x01});
}
QString Second(int phase, int adr) {
    return Hex({0x41, 0x80 + phase, 0xC8, adr});
}
QString Type_Read(int adr) {
    return Hex({0x40, 0x13, adr, 0x00});
}

bool Search_Over(Harness& h) {
    return h.t.S.Task_State == Task::Idle_Status && h.t.F.Start_Bus_Cmd.Visible() &&
           !h.t.S.Grid_Locked;
}

// Every caption a label takes, in order.
QStringList* Caption_History(QObject* context, const Control& c) {
    auto* history = new QStringList;
    QObject::connect(&c, &Control::changed, context, [history, &c] {
        if (history->isEmpty() || history->last() != c.Caption()) *history << c.Caption();
    });
    QObject::connect(context, &QObject::destroyed, [history] { delete history; });
    return history;
}

// True when `expected` appears in `history` in this order (other entries may come between).
bool In_Order(const QStringList& history, const QStringList& expected) {
    int at = 0;
    for (const QString& e : expected) {
        at = history.indexOf(e, at);
        if (at < 0) return false;
        ++at;
    }
    return true;
}

// The grid and buttons as an earlier search and readout would leave them, so the reset shows.
void Dirty_Grid(Tool& t) {
    for (int n = 1; n <= 128; ++n) {
        Mark_Found(t, n, 1, QStringLiteral("KOR"));
        t.F.Adr_Box(n).setBackColor(Found);
    }
    t.F.Led_Shp(5).setVisible(true);
    t.F.Adr_Status_Cde.setVisible(true);
    t.F.Cc_Lbl.setVisible(true);
}

} // namespace

class Tst_Search : public QObject {
    Q_OBJECT
  private slots:
    void search_data();
    void search();
    void full_loop();
    void failing_rearm();
    void click_during_step_data();
    void click_during_step();
    void short_type_reply_ends_search();
};

void Tst_Search::search_data() {
    QTest::addColumn<loopsim::Loop>("loop");
    QTest::addColumn<int>("phase");
    QTest::addColumn<QString>("wire");
    QTest::addColumn<QStringList>("names"); // second caption line of cells 1..count
    QTest::addColumn<QList<int>>("types");
    QTest::addColumn<QStringList>("positions");  // Cur_Adr_Lbl captions, in order
    QTest::addColumn<QStringList>("operations"); // every Current_Operation_Lbl caption

    const QStringList ops_found = {"Rearmement...Patienter...", "Attente Commande",
                                   QString::fromUtf8("Recherches Adresses raccordées"),
                                   "Lecture type Adresses", "Attente Commande"};
    const QStringList ops_none = {"Rearmement...Patienter...", "Attente Commande",
                                  QString::fromUtf8("Recherches Adresses raccordées"),
                                  "Attente Commande"};

    loopsim::Loop empty;
    QTest::newRow("empty loop") << empty << 8 << Join({Rearm(), Probe(8, 1), Second(8, 1)})
                                << QStringList() << QList<int>()
                                << QStringList{"Position = 001",
                                               QString::fromUtf8(" 0 Adresses trouvées")}
                                << ops_none;

    loopsim::Loop gap_first;
    gap_first.detectors[2] = Make_Detector(0x13);
    gap_first.detectors[3] = Make_Detector(0x13);
    QTest::newRow("address 1 refused by both, 2 and 3 never asked")
        << gap_first << 8 << Join({Rearm(), Probe(8, 1), Second(8, 1)}) << QStringList()
        << QList<int>() << QStringList{"Position = 001", QString::fromUtf8(" 0 Adresses trouvées")}
        << ops_none;

    loopsim::Loop alternating;
    alternating.detectors[1] = Make_Detector(0x13);
    alternating.detectors[2] = Make_Detector(0x21);
    alternating.detectors[2].probe_refusals = 2;
    alternating.detectors[2].second_accepts = true;
    alternating.detectors[3] = Make_Detector(0x17);
    QTest::newRow("probe and second attempt alternate, phase 1")
        << alternating << 1
        << Join({Rearm(), Probe(1, 1), Probe(1, 2), Second(1, 2), Probe(1, 2), Second(1, 2),
                 Probe(1, 2), Probe(1, 3), Probe(1, 4), Second(1, 4), Type_Read(1), Type_Read(2),
                 Type_Read(3)})
        << QStringList{"KOR", "ZEPHA", "KTRW"} << QList<int>{1, 2, 5}
        << QStringList{"Position = 001",
                       "Position = 002",
                       "Position = 003",
                       "Position = 004",
                       "Position = 001",
                       "Position = 001 Type adresse = 19",
                       "Position = 002",
                       "Position = 002 Type adresse = 33",
                       "Position = 003",
                       "Position = 003 Type adresse = 23",
                       QString::fromUtf8(" 3 Adresses trouvées")}
        << ops_found;

    loopsim::Loop types;
    types.detectors[1] = Make_Detector(0x13);
    types.detectors[2] = Make_Detector(0x19);
    types.detectors[3] = Make_Detector(0x1A);
    for (int a = 4; a <= 12; ++a)
        types.detectors[a] = Make_Detector(0x42);
    types.detectors[13] = Make_Detector(0x55);
    types.detectors[14] = Make_Detector(0x00);
    QStringList wire = {Rearm()};
    for (int a = 1; a <= 15; ++a)
        wire << Probe(8, a);
    wire << Second(8, 15);
    for (int a = 1; a <= 14; ++a)
        wire << Type_Read(a);
    QTest::newRow("every type code, nine MURO-S in a row")
        << types << 8 << Join(wire)
        << QStringList{"KOR",     "KOR",     "DLX508B", "MURO-S1", "MURO-S2", "MURO-S3", "MURO-S4",
                       "MURO-S5", "MURO-S6", "MURO-S7", "MURO-S8", "MURO-S1", "???",     "???"}
        << QList<int>{1, 1, 3, 4, 4, 4, 4, 4, 4, 4, 4, 4, 0, 0}
        << QStringList{"Position = 015",
                       "Position = 001 Type adresse = 19",
                       "Position = 002 Type adresse = 25",
                       "Position = 003 Type adresse = 26",
                       "Position = 005 Type adresse = 66",
                       "Position = 013 Type adresse = 85",
                       "Position = 014 Type adresse = 0",
                       QString::fromUtf8(" 14 Adresses trouvées")}
        << ops_found;

    loopsim::Loop refused_type;
    refused_type.detectors[1] = Make_Detector(0x13);
    refused_type.detectors[2] = Make_Detector(0x42);
    refused_type.detectors[3] = Make_Detector(0x1A);
    refused_type.detectors[3].refused.insert(0x13);
    refused_type.detectors[4] = Make_Detector(0x19);
    QTest::newRow("type read refused at address 3 of 4")
        << refused_type << 8
        << Join({Rearm(), Probe(8, 1), Probe(8, 2), Probe(8, 3), Probe(8, 4), Probe(8, 5),
                 Second(8, 5), Type_Read(1), Type_Read(2), Type_Read(3)})
        << QStringList{"KOR", "MURO-S1", "???", "???"} << QList<int>{1, 4, 0, 0}
        << QStringList{"Position = 002 Type adresse = 66", "Position = 003",
                       QString::fromUtf8(" 4 Adresses trouvées")}
        << ops_found;
}

void Tst_Search::search() {
    QFETCH(loopsim::Loop, loop);
    QFETCH(int, phase);
    QFETCH(QString, wire);
    QFETCH(QStringList, names);
    QFETCH(QList<int>, types);
    QFETCH(QStringList, positions);
    QFETCH(QStringList, operations);

    Harness h(loop);
    QVERIFY(Start_Connected(h));
    h.t.S.Phase_Code = static_cast<uint8_t>(phase);
    Dirty_Grid(h.t);
    Wire_Log log(h);
    log.clear();
    QObject context;
    const QStringList* position_history = Caption_History(&context, h.t.F.Cur_Adr_Lbl);
    const QStringList* operation_history = Caption_History(&context, h.t.F.Current_Operation_Lbl);

    // What the grid shows while the loop is re-armed and when the first probe goes out.
    int grey_cells = 0, searching_cells = 0;
    bool buttons_hidden = false, locked_during = false, tick_off_in_rearm = false;
    log.on_byte = [&](quint8 b) {
        Bus_Form& f = h.t.F;
        const QString bytes = log.bytes();
        if (bytes == QLatin1String("04")) {
            for (int n = 1; n <= 128; ++n)
                if (f.Adr_Box(n).BackColor() == Grey && !f.Led_Shp(n).Visible() &&
                    f.Adr_Box(n).Caption() ==
                        QStringLiteral("%1\n???").arg(n, 3, 10, QLatin1Char('0')) &&
                    h.t.S.Adr_Type[n - 1] == 0)
                    ++grey_cells;
            buttons_hidden =
                !f.Start_Bus_Cmd.Visible() && !f.Adr_Status_Cde.Visible() && !f.Cc_Lbl.Visible();
            tick_off_in_rearm = !f.Timer_Tache.isActive();
        }
        if (b == 0x41 && bytes == QLatin1String("04 03 41")) {
            for (int n = 1; n <= 128; ++n)
                if (f.Adr_Box(n).BackColor() == Searching) ++searching_cells;
            locked_during = h.t.S.Grid_Locked && !f.Start_Bus_Cmd.Visible() &&
                            f.Cur_Adr_Lbl.Visible() && h.t.S.Type4_Counter == 0;
        }
    };

    h.t.F.Start_Bus_Cmd.click();
    QVERIFY(h.run_until([&h] { return Search_Over(h); }, 20000));

    QCOMPARE(log.text(), Join({wire, "01"}));
    QCOMPARE(log.bytes(), log.board_bytes());
    QCOMPARE(grey_cells, 128);
    QVERIFY(buttons_hidden);
    QVERIFY(tick_off_in_rearm);
    QCOMPARE(searching_cells, 128);
    QVERIFY(locked_during);

    const int count = names.size();
    QCOMPARE(int(h.t.S.Adr_Count), count);
    for (int n = 1; n <= 128; ++n) {
        const QString number = QStringLiteral("%1").arg(n, 3, 10, QLatin1Char('0'));
        const bool found = n <= count;
        QCOMPARE(h.t.F.Adr_Box(n).Caption(), number + '\n' + (found ? names[n - 1] : "???"));
        QCOMPARE(int(h.t.S.Adr_Type[n - 1]), found ? types[n - 1] : 0);
        QCOMPARE(h.t.F.Adr_Box(n).BackColor(), found ? Found : Searching);
    }
    QVERIFY2(In_Order(*position_history, positions),
             qPrintable(position_history->join(QLatin1String(" | "))));
    QCOMPARE(h.t.F.Cur_Adr_Lbl.Caption(), positions.last());
    QVERIFY(h.t.F.Cur_Adr_Lbl.Visible());
    QCOMPARE(*operation_history, operations);
    QCOMPARE(h.t.F.Adr_Status_Cde.Visible(), count > 0);
    QVERIFY(h.t.F.Timer_Tache.isActive());
    QCOMPARE(h.t.F.Timer_Tache.interval(), 100);
}

void Tst_Search::full_loop() {
    loopsim::Loop loop;
    const uint8_t codes[] = {0x13, 0x19, 0x1A, 0x17, 0x21, 0x42};
    for (int a = 1; a <= 128; ++a)
        loop.detectors[a] = Make_Detector(codes[a % 6]);
    Harness h(loop);
    QVERIFY(Start_Connected(h));
    h.t.S.Phase_Code = 8;
    Wire_Log log(h);
    log.clear();

    h.t.F.Start_Bus_Cmd.click();
    QVERIFY(h.run_until([&h] { return Search_Over(h); }, 90000));

    QStringList wire = {Rearm()};
    for (int a = 1; a <= 128; ++a)
        wire << Probe(8, a);
    for (int a = 1; a <= 128; ++a)
        wire << Type_Read(a);
    wire << "01";
    QCOMPARE(log.text(), Join(wire));
    QCOMPARE(h.t.F.Cur_Adr_Lbl.Caption(), QString::fromUtf8(" 128 Adresses trouvées"));
    QCOMPARE(int(h.t.S.Adr_Count), 128);
    // 21 cells of code 0x42 (addresses 5, 11 ... 125): the running number wraps twice.
    QCOMPARE(h.t.F.Adr_Box(128).Caption(), QStringLiteral("128\nDLX508B"));
    QCOMPARE(int(h.t.S.Adr_Type[127]), 3);
    QCOMPARE(h.t.F.Adr_Box(4).Caption(), QStringLiteral("004\nZEPHA"));
    QCOMPARE(h.t.F.Adr_Box(6).Caption(), QStringLiteral("006\nKOR"));
    QCOMPARE(h.t.F.Adr_Box(5).Caption(), QStringLiteral("005\nMURO-S1"));
    QCOMPARE(h.t.F.Adr_Box(53).Caption(), QStringLiteral("053\nMURO-S1"));
    QCOMPARE(h.t.F.Adr_Box(125).Caption(), QStringLiteral("125\nMURO-S5"));
    QVERIFY(h.t.F.Adr_Status_Cde.Visible());
}

void Tst_Search::failing_rearm() {
    loopsim::Loop loop;
    loop.rearm_answers = false;
    loop.detectors[1] = Make_Detector(0x13);
    Harness h(loop);
    QVERIFY(Start_Connected(h));
    Dirty_Grid(h.t);
    h.t.F.Cur_Adr_Lbl.setCaption(QStringLiteral("Label1"));
    Wire_Log log(h);
    log.clear();

    h.t.F.Start_Bus_Cmd.click(); // the board is idle: the re-arm runs inside the click
    QCOMPARE(log.text(), QStringLiteral("04"));
    QCOMPARE(h.t.S.Task_State, int16_t(Task::Probe_Interface));
    QVERIFY(h.t.F.Start_Bus_Cmd.Visible());
    QVERIFY(!h.t.F.Adr_Status_Cde.Visible());
    QVERIFY(!h.t.S.Grid_Locked);
    QCOMPARE(h.t.F.Current_Operation_Lbl.Caption(), QStringLiteral("Attente Commande"));
    QCOMPARE(h.t.F.Cur_Adr_Lbl.Caption(), QStringLiteral("Label1"));
    QVERIFY(h.t.F.Timer_Tache.isActive());
    for (int n = 1; n <= 128; ++n) {
        QCOMPARE(h.t.F.Adr_Box(n).BackColor(), Grey);
        QCOMPARE(h.t.F.Adr_Box(n).Caption(),
                 QStringLiteral("%1\n???").arg(n, 3, 10, QLatin1Char('0')));
        QCOMPARE(int(h.t.S.Adr_Type[n - 1]), 0);
    }

    QVERIFY(h.run_until([&h] { return h.t.S.Task_State == Task::Idle_Status; }, 5000));
    QCOMPARE(log.text(), QStringLiteral("04 01"));
}

// The click comes while a step waits for the board's answer: the re-arm must wait for the step
// to end (no byte of it between the step's byte and its answer) and must not be lost to the
// state the step writes at its end.
void Tst_Search::click_during_step_data() {
    QTest::addColumn<int>("state");
    QTest::addColumn<int>("trigger");
    QTest::newRow("status poll, state 9") << int(Task::Idle_Status) << 0x08;
    QTest::newRow("probe, state 1 then writes 9") << int(Task::Probe_Interface) << 0x01;
}

void Tst_Search::click_during_step() {
    QFETCH(int, state);
    QFETCH(int, trigger);

    Harness h(loopsim::Loop{});
    QVERIFY(Start_Connected(h));
    h.t.S.Phase_Code = 8;
    Wire_Log log(h);
    log.clear();
    bool fired = false, clicked_in_step = false;
    log.on_byte = [&](quint8 b) {
        if (!fired && b == trigger) {
            fired = true;
            // Answered late, so the click surely lands while the step waits.
            h.board.set_reply_delay(150);
            QTimer::singleShot(0, &h.t.F, [&] {
                clicked_in_step = h.t.Bus_Busy > 0;
                h.t.F.Start_Bus_Cmd.click();
            });
        } else {
            h.board.set_reply_delay(0);
        }
    };
    h.t.S.Task_State = static_cast<int16_t>(state);

    QVERIFY(h.run_until(
        [&h] { return h.t.F.Cur_Adr_Lbl.Caption().endsWith(QString::fromUtf8("trouvées")); },
        10000));
    QVERIFY(clicked_in_step);
    QVERIFY(h.run_until([&h] { return Search_Over(h); }, 5000));
    QCOMPARE(log.text(), Join({Hex({trigger}), Rearm(), Probe(8, 1), Second(8, 1), "01"}));
}

// A type reply that brings the status but not the type code is a failed read: the search ends.
void Tst_Search::short_type_reply_ends_search() {
    Tool t;
    Short_Reply_Port* port = Use_Short_Reply_Port(t);
    t.F.Adr_Box(1).setCaption(QStringLiteral("001\n???"));
    t.S.Adr_Count = 2;
    t.S.Cur_Adr = 1;
    t.S.Search_Step = 5;
    t.S.Task_State = Task::Search_Addresses;
    {
        Bus_Busy_Scope step(t);
        Search_Addresses(t);
    }
    QCOMPARE(port->sent, QByteArray("\x40\x13\x01\x00", 4));
    QCOMPARE(t.S.Task_State, int16_t(Task::Search_End));
    QCOMPARE(t.F.Adr_Box(1).Caption(), QStringLiteral("001\n???"));
    QCOMPARE(int(t.S.Adr_Type[0]), 0);
}

QTEST_MAIN(Tst_Search)
#include "tst_search.moc"
