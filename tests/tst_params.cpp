#include "addresses/params.h"
#include "addresses_fixture.h"
#include "engine/requests.h"

#include <QtTest>

namespace {

const QStringList Row_Names = {"Valeur Initiale",
                               "Seuil Alarme",
                               QString::fromUtf8("Seuil Défaut"),
                               QString::fromUtf8("Nombre de requêtes"),
                               QString::fromUtf8("Nombre de conv.Défaut"),
                               "Largeur Strobe",
                               "Type de moyenne",
                               QString::fromUtf8("Nombre de vérification Défaut"),
                               QString::fromUtf8("Délai ampli")};

// Parameter code -> value, one value per row so a row shown under the wrong code is seen.
const std::map<uint8_t, uint8_t> Values = {{12, 7}, {1, 255}, {2, 0}, {3, 100}, {4, 9},
                                           {5, 10}, {6, 99},  {7, 1}, {15, 200}};
// The same values as rows 5 to 13 show them.
const QStringList Shown = {"007", "255", "000", "100", "009", "010", "099", "001", "200"};

const int Adr = 33;

loopsim::Loop Loop_With(const loopsim::Detector& d) {
    loopsim::Loop loop;
    loop.detectors[Adr] = d;
    return loop;
}

} // namespace

class Tst_Params : public QObject {
    Q_OBJECT
  private slots:
    void values_data();
    void values();
    void mode_data();
    void mode();
    void refused_mode_read_hides_the_mode_row();
};

void Tst_Params::values_data() {
    QTest::addColumn<int>("type_code");
    QTest::addColumn<int>("type_index");
    QTest::addColumn<int>("refused");    // parameter code answered with status 1, or 0
    QTest::addColumn<int>("unanswered"); // parameter code whose frame gets no reply, or 0
    QTest::addColumn<int>("failed_row");

    QTest::newRow("KOR, rows 5 to 13") << 0x13 << 1 << 0 << 0 << -1;
    QTest::newRow("KOR 0x19, code 3 refused") << 0x19 << 1 << 3 << 0 << 8;
    QTest::newRow("DLX508B, rows 5 to 14") << 0x1A << 3 << 0 << 0 << -1;
    QTest::newRow("DLX508B, code 15 refused") << 0x1A << 3 << 15 << 0 << 13;
    QTest::newRow("DLX508B, code 12 unanswered") << 0x1A << 3 << 0 << 12 << 5;
}

void Tst_Params::values() {
    QFETCH(int, type_code);
    QFETCH(int, type_index);
    QFETCH(int, refused);
    QFETCH(int, unanswered);
    QFETCH(int, failed_row);

    loopsim::Detector d = Make_Detector(uint8_t(type_code));
    d.params = Values;
    d.mode = 0x00;
    if (refused) d.refused.insert(refused);
    if (unanswered) d.silent.insert(unanswered);
    Harness h(Loop_With(d));
    QVERIFY(Start_Connected(h));
    Mark_Found(h.t, Adr, uint8_t(type_index), type_index == 1 ? "KOR" : "DLX508B");
    Wire_Log log(h);
    log.clear();

    QVERIFY(Run_Readout(h, Adr));

    const bool with_mode = type_index == 3;
    QCOMPARE(log.text(), Join({Identity_Wire(Adr), Params_Wire(Adr, with_mode), "01"}));
    Bus_Form& f = h.t.F;
    for (int r = 5; r <= 13; ++r) {
        QCOMPARE(f.Param_Lbl(r).Caption(), Row_Names[r - 5]);
        QCOMPARE(f.Value_Lbl(r).Caption(), r == failed_row ? "???" : Shown[r - 5]);
        QVERIFY(f.Param_Lbl(r).Visible());
        QVERIFY(f.Value_Lbl(r).Visible());
    }
    QCOMPARE(f.Value_Lbl(14).Visible(), with_mode);
    QCOMPARE(f.Opto_Check.Visible(), with_mode);
    QVERIFY(!f.Value_Lbl(15).Visible());
    QVERIFY(!f.Param_Lbl(15).Visible());
}

void Tst_Params::mode_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("opto");
    QTest::addColumn<int>("thermo");
    QTest::addColumn<int>("sensor_mode");

    const QString thermovelo = QString::fromUtf8("Thermovélo");
    QTest::newRow("0x00 both elements on") << 0x00 << "Optique " + thermovelo << 1 << 1 << 0;
    QTest::newRow("0x04 static thermal") << 0x04 << "Optique Statique" << 1 << 1 << 0;
    QTest::newRow("0x01 thermal off") << 0x01 << "Optique " << 1 << 0 << 1;
    QTest::newRow("0x05 thermal off, static bit unused") << 0x05 << "Optique " << 1 << 0 << 1;
    QTest::newRow("0x02 optical off") << 0x02 << thermovelo << 0 << 1 << 2;
    QTest::newRow("0x06 optical off, static") << 0x06 << "Statique" << 0 << 1 << 2;
    QTest::newRow("0x03 both off") << 0x03 << "" << 1 << 0 << 1;
    QTest::newRow("0xF8 high bits unused") << 0xF8 << "Optique " + thermovelo << 1 << 1 << 0;
}

// The mode row alone, read as the readout's last row within a bus step.
void Tst_Params::mode() {
    QFETCH(int, mode);
    QFETCH(QString, text);
    QFETCH(int, opto);
    QFETCH(int, thermo);
    QFETCH(int, sensor_mode);

    loopsim::Detector d = Make_Detector(0x1A);
    d.mode = uint8_t(mode);
    d.pending_mode = d.mode;
    Harness h(Loop_With(d));
    QVERIFY(Start_Connected(h));
    Mark_Found(h.t, Adr, 3, "DLX508B");
    h.t.S.Sel_Adr = Adr;
    h.t.S.Sensor_Mode = 0x55;
    Bus_Form& f = h.t.F;
    for (Control* c : {&f.Opto_Check, &f.Thermo_Check, &f.Picture1, &f.Picture2})
        c->setVisible(false);
    // Boxes set by the readout raise Click; their handlers must find the lock on.
    int clicks = 0, unlocked_clicks = 0;
    QObject context;
    for (Control* box : {&f.Opto_Check, &f.Thermo_Check})
        QObject::connect(box, &Control::Click, &context, [&] {
            ++clicks;
            if (!h.t.S.Check_Lock) ++unlocked_clicks;
        });
    Wire_Log log(h);
    log.clear();

    {
        Bus_Busy_Scope step(h.t);
        Read_Param(h.t, 14, 16, QString::fromUtf8("Mode détection"));
    }

    QCOMPARE(log.text(), Join({"P", Hex({0x40, 0x18, Adr, 0x00})}));
    // No mode write was requested by the boxes' handlers.
    QCOMPARE(h.t.S.Task_State, int16_t(Task::Idle_Status));
    QVERIFY(h.t.Pending_Requests.empty());
    QCOMPARE(f.Param_Lbl(14).Caption(), QString::fromUtf8("Mode détection"));
    QCOMPARE(f.Value_Lbl(14).Caption(), text);
    QVERIFY(f.Param_Lbl(14).Visible());
    QVERIFY(f.Value_Lbl(14).Visible());
    for (Control* c : {&f.Opto_Check, &f.Thermo_Check, &f.Picture1, &f.Picture2})
        QVERIFY(c->Visible());
    QCOMPARE(f.Opto_Check.Value(), opto);
    QCOMPARE(f.Thermo_Check.Value(), thermo);
    QCOMPARE(int(h.t.S.Sensor_Mode), sensor_mode);
    QVERIFY(!h.t.S.Check_Lock);
    QCOMPARE(unlocked_clicks, 0);
    if (opto == 0 || thermo == 0) QVERIFY(clicks > 0);
}

void Tst_Params::refused_mode_read_hides_the_mode_row() {
    loopsim::Detector d = Make_Detector(0x1A);
    d.params = Values;
    d.mode = 0x00;
    Harness h(Loop_With(d));
    QVERIFY(Start_Connected(h));
    Mark_Found(h.t, Adr, 3, "DLX508B");
    QVERIFY(Run_Readout(h, Adr));
    Bus_Form& f = h.t.F;
    QVERIFY(f.Value_Lbl(14).Visible());
    QVERIFY(f.Opto_Check.Visible());

    h.board.loop().detectors[Adr].refused.insert(0x18);
    Wire_Log log(h);
    log.clear();
    QVERIFY(Run_Readout(h, Adr));

    QCOMPARE(log.text(), Join({Identity_Wire(Adr), Params_Wire(Adr, true), "01"}));
    QVERIFY(!f.Param_Lbl(14).Visible());
    QVERIFY(!f.Value_Lbl(14).Visible());
    for (Control* c : {&f.Opto_Check, &f.Thermo_Check, &f.Picture1, &f.Picture2})
        QVERIFY(!c->Visible());
    for (int r = 5; r <= 13; ++r) {
        QVERIFY(f.Value_Lbl(r).Visible());
        QCOMPARE(f.Value_Lbl(r).Caption(), Shown[r - 5]);
    }
}

QTEST_MAIN(Tst_Params)
#include "tst_params.moc"
