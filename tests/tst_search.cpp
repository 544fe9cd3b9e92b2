#include "addresses/search.h"
#include "addresses_fixture.h"
#include "engine/requests.h"
#include "engine/tempo.h"

#include <QtTest>

Q_DECLARE_METATYPE(loopsim::Loop)

namespace {

const QString Rearm = QStringLiteral("04 P 03");
QString Probes(int phase, int from, int to) {
    QStringList s;
    for (int a = from; a <= to; ++a)
        s << Hex({0x41, 0x80 + phase, a, 0x01});
    return s.join(' ');
}
QString Second(int phase, int adr) {
    return Hex({0x41, 0x80 + phase, 0xC8, adr});
}
QString Type_Reads(int count) {
    QStringList s;
    for (int a = 1; a <= count; ++a)
        s << Hex({0x40, 0x13, a, 0x00});
    return s.join(' ');
}

loopsim::Loop Loop_Of(std::initializer_list<int> codes, int first = 1) {
    loopsim::Loop loop;
    for (int code : codes)
        loop.detectors[first++] = Make_Detector(code);
    return loop;
}

// Cell colours (grey 192,192,192, light 224,224,224, blue 128,128,255), cells still showing
// "???" with type 0, LED marks, the three buttons, the task tick and the grid lock, as one text.
QString Grid_State(const Tool& t) {
    int grey = 0, light = 0, blue = 0, unknown = 0, leds = 0;
    for (int n = 1; n <= 128; ++n) {
        const Vb_Color c = t.form.Adr_Box(n).BackColor();
        grey += c == 0x00C0C0C0;
        light += c == 0x00E0E0E0;
        blue += c == 0x00FF8080;
        unknown += t.form.Adr_Box(n).Caption().endsWith("\n???") && t.state.Adr_Type[n - 1] == 0;
        leds += t.form.Led_Shp(n).Visible();
    }
    return QString::asprintf(
        "grey %d light %d blue %d unknown %d leds %d buttons %d%d%d tick %d locked %d", grey, light,
        blue, unknown, leds, t.form.Start_Bus_Cmd.Visible(), t.form.Adr_Status_Cde.Visible(),
        t.form.Cc_Lbl.Visible(), t.form.Timer_Tache.isActive() ? t.form.Timer_Tache.interval() : 0,
        bool(t.state.Grid_Locked));
}

// What an earlier search and readout leave behind, so the reset shows.
void Dirty_Grid(Tool& t) {
    for (int n = 1; n <= 128; ++n) {
        Mark_Found(t, n, 1, QStringLiteral("KOR"));
        t.form.Adr_Box(n).set_back_color(0x00FF8080);
        t.form.Led_Shp(n).set_visible(true);
    }
    t.form.Adr_Status_Cde.set_visible(true);
    t.form.Cc_Lbl.set_visible(true);
}

bool Search_Over(Harness& h) {
    return h.t.state.Task_State == Task::Idle_Status && h.t.form.Start_Bus_Cmd.Visible() &&
           !h.t.state.Grid_Locked;
}

} // namespace

class Tst_Search : public QObject {
    Q_OBJECT
  private slots:
    void search_data() {
        QTest::addColumn<loopsim::Loop>("loop");
        QTest::addColumn<int>("phase");
        QTest::addColumn<QString>("wire");
        QTest::addColumn<QString>("cells");         // name and type index of each cell found
        QTest::addColumn<QStringList>("positions"); // status line captions, in this order

        loopsim::Loop alternating = Loop_Of({0x13, 0x21, 0x17});
        alternating.detectors[2].probe_refusals = 2;
        alternating.detectors[2].second_accepts = true;
        // Every type code, nine 0x42 in a row, and detectors up to address 128.
        loopsim::Loop full = Loop_Of({0x13, 0x19, 0x1A, 0x42, 0x42, 0x42, 0x42, 0x42, 0x42, 0x42,
                                      0x42, 0x42, 0x55, 0x00, 0x17, 0x21});
        QStringList full_cells = {"KOR:1 KOR:1 DLX508B:3 MURO-S1:4 MURO-S2:4 MURO-S3:4 MURO-S4:4 "
                                  "MURO-S5:4 MURO-S6:4 MURO-S7:4 MURO-S8:4 MURO-S1:4 ???:0 ???:0 "
                                  "KTRW:5 ZEPHA:2"};
        for (int a = 17; a <= 128; ++a) {
            full.detectors[a] = Make_Detector(0x13);
            full_cells << "KOR:1";
        }

        QTest::newRow("address 1 refused by both")
            << Loop_Of({0x13, 0x13}, 2) << 8 << Join({Rearm, Probes(8, 1, 1), Second(8, 1)}) << ""
            << QStringList{"Position = 001"};
        QTest::newRow("probe and second attempt alternate, phase 1")
            << alternating << 1
            << Join({Rearm, Probes(1, 1, 2), Second(1, 2), Probes(1, 2, 2), Second(1, 2),
                     Probes(1, 2, 4), Second(1, 4), Type_Reads(3)})
            << "KOR:1 ZEPHA:2 KTRW:5"
            << QStringList{"Position = 004", "Position = 001 Type adresse = 19",
                           "Position = 003 Type adresse = 23"};
        QTest::newRow("every type code, every address, no second attempt")
            << full << 8 << Join({Rearm, Probes(8, 1, 128), Type_Reads(128)})
            << full_cells.join(' ')
            << QStringList{"Position = 128", "Position = 002 Type adresse = 25",
                           "Position = 014 Type adresse = 0", "Position = 128 Type adresse = 19"};
    }

    void search() {
        QFETCH(loopsim::Loop, loop);
        QFETCH(int, phase);
        QFETCH(QString, wire);
        QFETCH(QString, cells);
        QFETCH(QStringList, positions);

        Harness h(loop);
        QVERIFY(Start_Connected(h));
        h.t.state.Phase_Code = uint8_t(phase);
        Dirty_Grid(h.t);
        QStringList position_history, operation_history;
        for (auto [label, history] :
             {std::pair{&h.t.form.Cur_Adr_Lbl, &position_history},
              std::pair{&h.t.form.Current_Operation_Lbl, &operation_history}})
            QObject::connect(label, &Control::changed, &h.t.form,
                             [label = label, history = history] {
                                 if (history->isEmpty() || history->last() != label->Caption())
                                     *history << label->Caption();
                             });
        Wire_Log log(h);
        log.clear();
        QString at_rearm, at_probe;
        log.on_byte = [&](quint8) {
            const QByteArray line = h.board.received();
            if (line == bytes({0x04})) at_rearm = Grid_State(h.t);
            if (line != bytes({0x04, 0x03, 0x41})) return;
            at_probe = Grid_State(h.t) + QStringLiteral(" counter %1").arg(h.t.state.Type4_Counter);
            h.t.form.Timer_Tache.setInterval(1); // the 100 ms pacing is the benchmark's business
        };

        h.t.form.Start_Bus_Cmd.click();
        QVERIFY(h.run_until([&h] { return Search_Over(h); }, 30000));

        QCOMPARE(log.text(), Join({wire, "01"}));
        QCOMPARE(at_rearm,
                 "grey 128 light 0 blue 0 unknown 128 leds 0 buttons 000 tick 0 locked 0");
        QCOMPARE(
            at_probe,
            "grey 0 light 128 blue 0 unknown 128 leds 0 buttons 000 tick 100 locked 1 counter 0");
        QStringList expected = cells.split(' ', Qt::SkipEmptyParts), shown;
        const int count = expected.size();
        while (expected.size() < 128)
            expected << "???:0";
        for (int n = 1; n <= 128; ++n)
            shown << h.t.form.Adr_Box(n).Caption().mid(4) + ':' +
                         QString::number(h.t.state.Adr_Type[n - 1]);
        QCOMPARE(shown.join(' '), expected.join(' '));
        QCOMPARE(int(h.t.state.Adr_Count), count);
        QCOMPARE(Grid_State(h.t),
                 QStringLiteral("grey 0 light %1 blue %2 unknown %3 leds 0 buttons %4 "
                                "tick 100 locked 0")
                     .arg(128 - count)
                     .arg(count)
                     .arg(expected.count("???:0"))
                     .arg(count > 0 ? "110" : "100"));
        positions << QStringLiteral(" %1 Adresses trouvées").arg(count);
        int at = 0;
        for (const QString& p : positions)
            QVERIFY2((at = position_history.indexOf(p, at) + 1) > 0, qPrintable(p));
        QCOMPARE(position_history.last(), positions.last());
        QStringList operations = {"Rearmement...Patienter...", "Attente Commande",
                                  "Recherches Adresses raccordées", "Attente Commande"};
        if (count > 0) operations.insert(3, "Lecture type Adresses");
        QCOMPARE(operation_history, operations);
    }

    void failing_rearm() {
        loopsim::Loop loop = Loop_Of({0x13});
        loop.rearm_answers = false;
        Harness h(loop);
        QVERIFY(Start_Connected(h));
        Dirty_Grid(h.t);
        Wire_Log log(h);
        log.clear();

        h.t.form.Start_Bus_Cmd.click(); // the board is idle: the re-arm runs inside the click
        QCOMPARE(log.text(), QStringLiteral("04"));
        QCOMPARE(h.t.state.Task_State, int16_t(Task::Probe_Interface));
        QCOMPARE(Grid_State(h.t),
                 "grey 128 light 0 blue 0 unknown 128 leds 0 buttons 100 tick 100 locked 0");
        QCOMPARE(h.t.form.Current_Operation_Lbl.Caption(), QStringLiteral("Attente Commande"));
        QVERIFY(h.run_until([&h] { return h.t.state.Task_State == Task::Idle_Status; }, 5000));
        QCOMPARE(log.text(), QStringLiteral("04 01"));
    }

    // A search cut short says where and why beside the count, until the next search; one that
    // ends by itself says nothing more. 20 detectors; a clock five times faster.
    void stop_reason_data() {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("count"); // Cur_Adr_Lbl afterwards
        QTest::addColumn<QString>("hint");  // empty: hidden
        const QString found = QString::fromUtf8(" %1 Adresses trouvées");
        QTest::newRow("whole loop") << "" << found.arg(20) << "";
        QTest::newRow("no answer to the probe of 12")
            << "silent 12" << found.arg(11)
            << QString::fromUtf8("Recherche interrompue\nen 012 : pas de réponse");
        QTest::newRow("wrong echo reading the type of 1")
            << "wrong echo" << found.arg(20)
            << QString::fromUtf8("Recherche interrompue\nen 001 : écho incorrect");
        QTest::newRow("type of 7 refused")
            << "refused 7" << found.arg(20)
            << QString::fromUtf8("Recherche interrompue\nen 007 : type refusé");
        QTest::newRow("re-arm not answered")
            << "re-arm" << found.arg(20)
            << QString::fromUtf8("Recherche impossible\nréarmement : pas de réponse");
    }
    void stop_reason() {
        QFETCH(QString, fault);
        QFETCH(QString, count);
        QFETCH(QString, hint);
        loopsim::Loop loop;
        for (int a = 1; a <= 20; ++a)
            loop.detectors[a] = Make_Detector(0x13);
        if (fault.startsWith("silent")) loop.detectors[12].silent.insert(0x81);
        if (fault.startsWith("refused")) loop.detectors[7].refused.insert(0x13);
        Harness h(loop);
        set_clock_divider(h.t, 5);
        h.board.set_clock_divider(5);
        QVERIFY(Start_Connected(h));
        if (fault == "re-arm") {
            h.t.form.Start_Bus_Cmd.click();
            QVERIFY(h.run_until([&h] { return Search_Over(h); }, 30000));
            h.board.loop().rearm_answers = false;
        }
        Wire_Log log(h);
        log.on_byte = [&](quint8 b) {
            if (b == 0x40 && fault == "wrong echo") h.board.set_wrong_echo(3);
        };
        h.t.form.Search_Stop_Lbl.set_visible(true); // left by an earlier search
        h.t.form.Start_Bus_Cmd.click();
        QVERIFY(h.run_until([&h] { return Search_Over(h); }, 30000));
        QCOMPARE(h.t.form.Cur_Adr_Lbl.Caption(), count);
        QCOMPARE(h.t.form.Search_Stop_Lbl.Visible() ? h.t.form.Search_Stop_Lbl.Caption() : "",
                 hint);
    }

    // A search owns the bus to its end: LED and mode requests from a panel left open are dropped,
    // and the boxes show again what the detector holds.
    void panel_requests_during_search_dropped() {
        Harness h(Loop_Of({0x1A, 0x1A, 0x1A}));
        QVERIFY(Start_Connected(h));
        h.t.form.Start_Bus_Cmd.click();
        QVERIFY(h.run_until([&h] { return Search_Over(h); }, 10000));
        QVERIFY(Run_Readout(h, 2) && h.t.form.Opto_Check.Visible());
        h.t.form.Start_Bus_Cmd.click();
        QVERIFY(h.run_until([&h] { return h.t.state.Task_State == Task::Search_Addresses; }, 5000));
        h.board.clear_traffic();
        h.t.form.Led_On_Cde.click();
        h.t.form.Opto_Check.set_value(0);
        h.t.form.Led_Off_Cde.click();
        QVERIFY(h.run_until([&h] { return Search_Over(h); }, 10000));
        QCOMPARE(h.t.form.Cur_Adr_Lbl.Caption(), QString::fromUtf8(" 3 Adresses trouvées"));
        QVERIFY(h.t.form.Adr_Status_Cde.Visible());
        for (const QByteArray& frame : {bytes({0x41, 0x82}), bytes({0x41, 0x96})})
            QVERIFY(!h.board.received().contains(frame));
        // A box whose write is dropped shows the mode the detector has, not the click.
        QVERIFY(h.t.form.Opto_Check.Value() == 1 && h.t.state.Sensor_Mode == 0);
        h.t.form.Param_Lbl(0).set_visible(false); // as between a grid click and its readout
        h.t.form.Thermo_Check.set_value(0);
        QVERIFY(h.t.form.Thermo_Check.Value() == 1 && h.t.state.Sensor_Mode == 0);
    }
};

QTEST_MAIN(Tst_Search)
#include "tst_search.moc"
