// A click on a cell: where the detector panel opens, and the readout of the detector's identity,
// parameters and detection mode, byte by byte as the simulated board receives them.
#include "addresses/grid.h"
#include "addresses/identity.h"
#include "addresses/search.h"
#include "addresses_fixture.h"
#include "engine/requests.h"
#include "engine/tempo.h"
#include "model/tool.h"

#include <QSet>
#include <QtTest>

namespace {

const QStringList Row_Names =
    QString::fromUtf8("Adresse|Type détecteur|Version PCB|Version Soft|N° série|Valeur Initiale|"
                      "Seuil Alarme|Seuil Défaut|Nombre de requêtes|Nombre de conv.Défaut|"
                      "Largeur Strobe|Type de moyenne|Nombre de vérification Défaut|Délai ampli|"
                      "Mode détection")
        .split('|');
const int Adr = 37;

// The panel's caption, the values of its shown rows and, when shown, the two boxes and the
// sensing mode they stand for. Names of the shown rows are checked on the way.
QString Panel(const Tool& t) {
    const Bus_Form& f = t.form;
    QStringList values;
    for (int r = 0; r <= 15; ++r) {
        if (f.Value_Lbl(r).Visible() != f.Param_Lbl(r).Visible()) values << "half-shown row";
        if (!f.Value_Lbl(r).Visible()) continue;
        values << f.Value_Lbl(r).Caption();
        if (f.Param_Lbl(r).Caption() != Row_Names[r]) values << f.Param_Lbl(r).Caption();
    }
    QString text = f.Status_Frame.Caption() + ": " + values.join('|');
    if (f.Opto_Check.Visible() && f.Thermo_Check.Visible() && f.Picture1.Visible() &&
        f.Picture2.Visible())
        text += QStringLiteral(" boxes %1%2 mode %3")
                    .arg(f.Opto_Check.Value())
                    .arg(f.Thermo_Check.Value())
                    .arg(t.state.Sensor_Mode);
    return text;
}

// Echoes the first three bytes of each frame, then answers the fourth with a good status byte
// alone and raises its event all the same: a reply one byte shorter than the tool reads.
class Short_Reply_Port : public Serial_Port {
  public:
    bool open(int) override { return open_ = true; }
    void close() override { open_ = false; }
    bool PortOpen() const override { return open_; }
    int InBufferCount() override { return int(pending_.size()); }
    QByteArray Input() override { return std::exchange(pending_, QByteArray()); }
    bool Output(uint8_t b) override {
        sent.append(char(b));
        pending_.append(sent.size() % 4 ? char(b) : char(0x00));
        QTimer::singleShot(0, this, [this] { emit comm_event(); });
        return true;
    }
    QString device_name(int) const override { return {}; }
    QByteArray sent;

  private:
    bool open_ = false;
    QByteArray pending_;
};

// The panel, selection, task state, shown rows and LED buttons, and clicks counted, as one text.
QString Placement(const Tool& t, uint16_t clicks_before) {
    int rows = 0;
    for (int r = 0; r <= 15; ++r)
        rows += t.form.Param_Lbl(r).Visible() + t.form.Value_Lbl(r).Visible();
    const Control& p = t.form.Status_Frame;
    return p.Caption() +
           QString::asprintf(" at %d,%d size %dx%d shown %d sel %d state %d rows %d led %d lock %d "
                             "clicks %d",
                             p.Left(), p.Top(), p.Width(), p.Height(), p.Visible(), t.state.Sel_Adr,
                             t.state.Task_State, rows,
                             t.form.Led_On_Cde.Visible() + t.form.Led_Off_Cde.Visible(),
                             bool(t.state.Check_Lock), t.state.selection_count - clicks_before);
}

const QString Untouched = QStringLiteral("Position 040 at 1000,2000 size 4764x4452 shown 0 sel 40 "
                                         "state 9 rows 32 led 2 lock 1 clicks %1");
// A click during a step: what the user sees happens at once, the selection waits for its end.
const QString Shown_Only = QStringLiteral("Position 012 at 5300,3200 size 4764x4452 shown 1 sel 40 "
                                          "state 9 rows 0 led 0 lock 1 clicks 1");
const QString Opened =
    QStringLiteral(" size 4764x4452 shown 1 sel %1 state 5 rows 0 led 0 lock 0 clicks 1");

} // namespace

// Window client area 15465 x 10080 twips, panel 4764 x 4452, cells 600 x 400.

class Tst_Readout : public QObject {
    Q_OBJECT

  private slots:
    void readout_data() {
        QTest::addColumn<int>("code");
        QTest::addColumn<QByteArray>("identity"); // PCB and software versions, serial S0 to S3
        QTest::addColumn<QList<int>>("refused");  // frame codes answered with status 1
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("panel");

        const QByteArray id = bytes({0x12, 0x31, 7, 12, 1, 44});
        const QString values = "1.2|3.1|071200300|007|255|000|100|009|010|099|001|200";
        const QString kor = "Position 037: 037|KOR|" + values,
                      dlx = "Position 037: 037|DLX508B|" + values;
        const auto row = [](const char* name, int code, const QByteArray& identity,
                            QList<int> refused, int mode, const QString& panel) {
            QTest::newRow(name) << code << identity << refused << mode << panel;
        };
        row("ZEPHA, versions 0x12 0x3F, serial 7 12 1 44", 0x21, bytes({0x12, 0x3F, 7, 12, 1, 44}),
            {}, 0, "Position 037: 037|ZEPHA|1.2|3.15|071200300");
        row("MURO-S, versions 0x00 0xFF, serial 0 0 0 0", 0x42, bytes({0x00, 0xFF, 0, 0, 0, 0}), {},
            0, "Position 037: 037|MURO-S3|0.0|15.15|000000000");
        row("KTRW, serial S2 = 128", 0x17, bytes({0x3F, 0x10, 0x12, 0x34, 0x80, 0x00}), {}, 0,
            "Position 037: 037|KTRW|3.15|1.0|185232768");
        row("PCB version refused", 0x21, id, {0x14}, 0,
            "Position 037: 037|ZEPHA|???|3.1|071200300");
        row("second serial read refused", 0x21, id, {0x09}, 0,
            "Position 037: 037|ZEPHA|1.2|3.1|???");
        row("KOR 0x19, parameter 3 refused", 0x19, id, {3}, 0,
            QString(kor).replace("|100|", "|???|"));
        row("mode 0x00", 0x1A, id, {}, 0x00, dlx + "|Optique Thermovélo boxes 11 mode 0");
        row("mode 0x04", 0x1A, id, {}, 0x04, dlx + "|Optique Statique boxes 11 mode 0");
        row("mode 0x01", 0x1A, id, {}, 0x01, dlx + "|Optique  boxes 10 mode 1");
        row("mode 0x06", 0x1A, id, {}, 0x06, dlx + "|Statique boxes 01 mode 2");
        row("mode 0x03", 0x1A, id, {}, 0x03, dlx + "| boxes 10 mode 1");
        row("mode 0xF8, unused bits", 0x1A, id, {}, 0xF8,
            dlx + "|Optique Thermovélo boxes 11 mode 0");
        row("mode read refused", 0x1A, id, {0x18}, 0, dlx);
    }

    void readout() {
        QFETCH(int, code);
        QFETCH(QByteArray, identity);
        QFETCH(QList<int>, refused);
        QFETCH(int, mode);
        QFETCH(QString, panel);

        loopsim::Loop loop;
        loopsim::Detector& d = loop.detectors[Adr] = Make_Detector(code);
        d.pcb_version = uint8_t(identity[0]);
        d.soft_version = uint8_t(identity[1]);
        std::copy(identity.begin() + 2, identity.end(), d.serial.begin());
        d.refused = QSet<int>(refused.begin(), refused.end());
        d.params = {{12, 7}, {1, 255}, {2, 0}, {3, 100}, {4, 9},
                    {5, 10}, {6, 99},  {7, 1}, {15, 200}};
        d.mode = d.pending_mode = uint8_t(mode);
        Harness h(loop);
        QVERIFY(Start_Connected(h));
        const int index = ::type_index(uint8_t(code));
        Mark_Found(h.t, Adr, index, type_name(uint8_t(code), 3));
        h.t.state.Sensor_Mode = 0x55;
        Wire_Log log(h);
        log.clear();
        int plain_pointer_bytes = 0;
        log.on_byte = [&](quint8) {
            plain_pointer_bytes += h.t.screen.MousePointer() != Screen_Pointer::Hourglass;
        };

        QVERIFY(Run_Readout(h, Adr));

        const QString params = index == 1 || index == 3 ? Params_Wire(Adr, index == 3) : "";
        QCOMPARE(log.text(), Join({Identity_Wire(Adr), params, "01"}));
        QCOMPARE(plain_pointer_bytes, 1); // the probe after the readout
        QCOMPARE(Panel(h.t), panel);
        QVERIFY(!h.t.state.Check_Lock);
        QVERIFY(h.t.form.Led_On_Cde.Visible() && h.t.form.Led_Off_Cde.Visible());
    }

    void unfound_cell_data() {
        QTest::addColumn<int>("adr"); // 0: the readout state reached before any grid click
        QTest::addColumn<bool>("after_readout");
        QTest::addColumn<QString>("panel");
        QTest::newRow("before any readout")
            << 7 << false
            << "Position 007: 007|???|???|Paramètre 1 =|???|Paramètre 1 =|???|Paramètre 1 =";
        QTest::newRow("after a full readout") << 7 << true << "Position 007: 007|???|???|???|???";
        QTest::newRow("no cell clicked yet")
            << 0 << false << "Etat: 000|???|???|Paramètre 1 =|???|Paramètre 1 =|???|Paramètre 1 =";
    }

    // A cell the search did not find: no frame, the address and "???" under the rows' old names.
    void unfound_cell() {
        QFETCH(int, adr);
        QFETCH(bool, after_readout);
        QFETCH(QString, panel);
        loopsim::Loop loop;
        loop.detectors = {{7, Make_Detector(0x13)}, {8, Make_Detector(0x21)}};
        Harness h(loop);
        QVERIFY(Start_Connected(h));
        if (after_readout) {
            Mark_Found(h.t, 8, 2, QStringLiteral("ZEPHA"));
            QVERIFY(Run_Readout(h, 8));
        }
        Wire_Log log(h);
        log.clear();
        if (adr) {
            QVERIFY(Run_Readout(h, adr));
        } else {
            h.t.state.Task_State = Task::Read_Identity;
            QVERIFY(h.run_until([&h] { return h.t.state.Task_State == Task::Idle_Status; }, 5000));
        }

        QCOMPARE(log.text(), QStringLiteral("01"));
        QCOMPARE(Panel(h.t), panel);
        QVERIFY(h.t.form.Led_On_Cde.Visible() && h.t.form.Led_Off_Cde.Visible());
        QCOMPARE(h.t.screen.MousePointer(), int(Screen_Pointer::Default));
    }

    // The board goes after a search (the disconnection is declared) and may come back with another
    // loop behind it: a readout of a found cell reads its type again first, shows the detector as
    // it is now and corrects the cell; a type that cannot be read shows no detector at all.
    void board_gone_and_back_data() {
        QTest::addColumn<int>("code"); // at address 2 when the board is back; 0: type refused
        QTest::addColumn<QString>("cell");
        QTest::addColumn<QString>("wire");
        const QString type_read = Hex({0x40, 0x13, 2, 0}) + " P";
        QTest::newRow("another detector")
            << 0x1A << "DLX508B" << Join({type_read, Identity_Wire(2), Params_Wire(2, true), "01"});
        QTest::newRow("the same detector")
            << 0x13 << "KOR" << Join({type_read, Identity_Wire(2), Params_Wire(2, false), "01"});
        QTest::newRow("type refused") << 0 << "KOR" << Hex({0x40, 0x13, 2, 0, 0x01});
    }
    void board_gone_and_back() {
        QFETCH(int, code);
        QFETCH(QString, cell);
        QFETCH(QString, wire);
        loopsim::Loop loop;
        for (int a = 1; a <= 3; ++a)
            loop.detectors[a] = Make_Detector(0x13);
        Harness h(loop);
        set_clock_divider(h.t, 5);
        QVERIFY(Start_Connected(h));
        h.t.form.Start_Bus_Cmd.click();
        QVERIFY(h.run_until([&h] { return h.t.state.Adr_Type[2] == 1 && Readout_Over(h); }, 10000));
        h.board.hang_up();
        QVERIFY(h.run_until([&h] { return !h.t.state.Connected; }, 5000));
        if (code)
            h.board.loop().detectors[2] = Make_Detector(code);
        else
            h.board.loop().detectors[2].refused.insert(0x13);
        QVERIFY(h.board.come_back());
        QVERIFY(h.run_until([&h] { return Readout_Over(h) && h.t.state.Connected; }, 5000));
        Wire_Log log(h);
        log.clear();

        QVERIFY(Run_Readout(h, 2));
        QCOMPARE(log.text(), wire);
        QCOMPARE(h.t.form.Adr_Box(2).Caption(), "002\n" + cell);
        QCOMPARE(h.t.form.Value_Lbl(1).Caption(), code ? cell : "???");
        QCOMPARE(h.t.form.Opto_Check.Visible(), code == 0x1A);
    }

    // Cell 9 is clicked while cell 5's readout waits for its second serial byte: that readout stops
    // after the frame under way, cell 9 is read in full next, and the panel never shows one
    // detector's value under the other's position.
    void click_during_readout() {
        loopsim::Loop loop;
        loopsim::Detector& a = loop.detectors[5] = Make_Detector(0x1A);
        loopsim::Detector& b = loop.detectors[9] = Make_Detector(0x13);
        a.pcb_version = 0x11;
        a.serial = {1, 2, 3, 4};
        b.pcb_version = 0x22;
        b.serial = {5, 6, 7, 8};
        for (int c : {1, 2, 3, 4, 5, 6, 7, 12, 15}) {
            a.params[uint8_t(c)] = 17;
            b.params[uint8_t(c)] = 34;
        }
        Harness h(loop);
        QVERIFY(Start_Connected(h));
        Mark_Found(h.t, 5, 3, QStringLiteral("DLX508B"));
        Mark_Found(h.t, 9, 1, QStringLiteral("KOR"));

        // Values only the other detector has.
        QMap<int, QSet<QString>> foreign;
        foreign[9] = {"005", "DLX508B", "1.1", "010200772", "017", "Optique Thermovélo"};
        foreign[5] = {"009", "KOR", "2.2", "050601800", "034"};
        QStringList mixed;
        Bus_Form& f = h.t.form;
        auto check = [&] {
            for (int r = 0; r <= 15; ++r)
                if (f.Value_Lbl(r).Visible() &&
                    foreign.value(f.Status_Frame.Caption().mid(9).toInt())
                        .contains(f.Value_Lbl(r).Caption()))
                    mixed << f.Status_Frame.Caption() + ": " + f.Value_Lbl(r).Caption();
        };
        QObject::connect(&f.Status_Frame, &Control::changed, &f, check);
        for (int r = 0; r <= 15; ++r)
            QObject::connect(&f.Value_Lbl(r), &Control::changed, &f, check);

        Wire_Log log(h);
        log.clear();
        bool clicked_in_step = false;
        log.on_byte = [&](quint8) {
            const bool now = h.board.received() == bytes({0x40, 0x14, 5, 0, 0x40, 0x15, 5, 0, 0x40,
                                                          0x08, 5, 0, 0x40, 0x09});
            h.board.set_reply_delay(now ? 100 : 0); // the click surely comes while the frame waits
            if (now)
                QTimer::singleShot(0, &f, [&] {
                    clicked_in_step = h.t.link.bus_busy > 0;
                    f.Adr_Box(9).click();
                });
        };

        f.Adr_Box(5).click();
        QVERIFY(h.run_until([&] { return h.t.state.Sel_Adr == 9 && Readout_Over(h); }, 10000));

        QVERIFY(clicked_in_step);
        // Cell 5 gets its first four frames only.
        QCOMPARE(log.text(),
                 Join({Identity_Wire(5).left(53), Identity_Wire(9), Params_Wire(9, false), "01"}));
        QVERIFY2(mixed.isEmpty(), qPrintable(mixed.join(QLatin1String("; "))));
        QCOMPARE(Panel(h.t),
                 "Position 009: 009|KOR|2.2|3.1|050601800|034|034|034|034|034|034|034|034|034");
    }

    // Every frame succeeds but brings one byte of the two read: nothing is shown as a value, and
    // a search reading types stops.
    void short_replies_are_failed_reads() {
        Tool t;
        auto port = std::make_unique<Short_Reply_Port>();
        Short_Reply_Port* line = port.get();
        t.link.set_port(std::move(port));
        t.link.Comm1()->open(1);
        wire_link_events(t);
        Mark_Found(t, 5, 3, QStringLiteral("DLX508B"));
        t.state.Sel_Adr = 5;
        {
            Line::Step_Scope step(t.link);
            Read_Identity(t);
        }
        QCOMPARE(line->sent.size(), 16 * 4);
        QCOMPARE(Panel(t), "Etat: 005|DLX508B|???|???|???|???|???|???|???|???|???|???|???|???");
        QCOMPARE(int(t.state.Serial_Bytes[0]), 0xFF);
        QCOMPARE(t.state.Task_State, int16_t(Task::Probe_Interface));

        line->sent.clear();
        t.state.Adr_Count = 2;
        t.state.Cur_Adr = 5;
        t.state.Search_Step = 5;
        t.state.Task_State = Task::Search_Addresses;
        {
            Line::Step_Scope step(t.link);
            Search_Addresses(t);
        }
        QCOMPARE(line->sent, bytes({0x40, 0x13, 0x05, 0x00}));
        QCOMPARE(t.state.Task_State, int16_t(Task::Search_End));
        QCOMPARE(t.form.Adr_Box(5).Caption(), QStringLiteral("005\nDLX508B"));
    }

    void click_data() {
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("cell_left");
        QTest::addColumn<int>("cell_top");
        QTest::addColumn<QString>("when"); // idle, locked (a search runs), or during a bus step
        QTest::addColumn<QString>("panel");

        const auto row = [](const char* name, int index, int left, int top, const char* when,
                            const QString& panel) {
            QTest::newRow(name) << index << left << top << QString(when) << panel;
        };
        const auto opened = [](int index, const char* at) {
            return QStringLiteral("Position %1 at ").arg(index, 3, 10, QLatin1Char('0')) + at +
                   Opened.arg(index);
        };
        row("middle", 12, 5000, 3000, "idle", opened(12, "5300,3200"));
        row("right edge, fits exactly", 1, 10401, 3000, "idle", opened(1, "10701,3200"));
        row("right edge, one over", 16, 10402, 3000, "idle", opened(16, "5938,3200"));
        row("bottom edge, fits exactly", 100, 5000, 5428, "idle", opened(100, "5300,5628"));
        row("bottom edge, one over", 113, 5000, 5429, "idle", opened(113, "5300,1177"));
        row("bottom right corner", 128, 14000, 8000, "idle", opened(128, "9536,3748"));
        row("grid locked by a search", 12, 5000, 3000, "locked", Untouched.arg(0));
        row("index 0", 0, 0, 0, "idle", Untouched.arg(0));
        row("index 129", 129, 0, 0, "idle", Untouched.arg(0));
        row("during a bus step", 12, 5000, 3000, "step", opened(12, "5300,3200"));
        row("during a bus step, then a search starts", 12, 5000, 3000, "step, search", Shown_Only);
    }

    void click() {
        QFETCH(int, index);
        QFETCH(int, cell_left);
        QFETCH(int, cell_top);
        QFETCH(QString, when);
        QFETCH(QString, panel);

        // A panel left open on address 40 by an earlier readout, every row shown.
        Tool t;
        t.state.Task_State = Task::Idle_Status;
        t.state.Sel_Adr = 40;
        t.state.Check_Lock = true;
        t.form.Status_Frame.set_caption(QStringLiteral("Position 040"));
        t.form.Status_Frame.Move(1000, 2000);
        t.form.Status_Frame.set_visible(false);
        for (int r = 0; r <= 15; ++r) {
            t.form.Param_Lbl(r).set_visible(true);
            t.form.Value_Lbl(r).set_visible(true);
        }
        for (Control* c : {&t.form.Led_On_Cde, &t.form.Led_Off_Cde})
            c->set_visible(true);
        if (index >= 1 && index <= 128) t.form.Adr_Box(index).Move(cell_left, cell_top, 600, 400);
        t.state.Grid_Locked = when == "locked";
        const uint16_t before = t.state.selection_count;

        if (when.startsWith("step")) {
            // The panel opens at once and the count moves, so a readout under way stops; the
            // selection follows the step unless a search has locked the grid meanwhile.
            Line::Step_Scope step(t.link);
            Adr_Box_Click(t, index);
            QCOMPARE(Placement(t, before), Shown_Only);
            t.state.Grid_Locked = when.endsWith("search");
            if (!t.state.Grid_Locked) t.state.Task_State = Task::Probe_Interface; // as a step ends
        } else {
            Adr_Box_Click(t, index);
        }
        QCOMPARE(Placement(t, before), panel);
    }
};

QTEST_MAIN(Tst_Readout)
#include "tst_readout.moc"
