#include "addresses/grid.h"
#include "app/tool.h"
#include "engine/requests.h"

#include <QtTest>

namespace {

// A tool whose panel was left open on address 40 by an earlier readout, with every row shown.
void Prepare(Tool& t) {
    t.S.Task_State = Task::Idle_Status;
    t.S.Sel_Adr = 40;
    t.S.Check_Lock = true;
    t.F.Status_Frame.setCaption(QStringLiteral("Position 040"));
    t.F.Status_Frame.Move(1000, 2000);
    t.F.Status_Frame.setVisible(false);
    for (int r = 0; r <= 15; ++r) {
        t.F.Param_Lbl(r).setVisible(true);
        t.F.Value_Lbl(r).setVisible(true);
    }
    t.F.Led_On_Cde.setVisible(true);
    t.F.Led_Off_Cde.setVisible(true);
}

bool Untouched(const Tool& t) {
    bool rows = true;
    for (int r = 0; r <= 15; ++r)
        rows = rows && t.F.Param_Lbl(r).Visible() && t.F.Value_Lbl(r).Visible();
    return rows && t.S.Task_State == Task::Idle_Status && t.S.Sel_Adr == 40 && t.S.Check_Lock &&
           t.F.Status_Frame.Caption() == QLatin1String("Position 040") &&
           t.F.Status_Frame.Left() == 1000 && t.F.Status_Frame.Top() == 2000 &&
           !t.F.Status_Frame.Visible() && t.F.Led_On_Cde.Visible() && t.F.Led_Off_Cde.Visible();
}

void Verify_Selected(const Tool& t, int index, const QString& caption) {
    for (int r = 0; r <= 15; ++r) {
        QVERIFY(!t.F.Param_Lbl(r).Visible());
        QVERIFY(!t.F.Value_Lbl(r).Visible());
    }
    QCOMPARE(t.F.Status_Frame.Caption(), caption);
    QCOMPARE(int(t.S.Sel_Adr), index);
    QVERIFY(!t.F.Led_On_Cde.Visible());
    QVERIFY(!t.F.Led_Off_Cde.Visible());
    QVERIFY(t.F.Status_Frame.Visible());
    QVERIFY(!t.S.Check_Lock);
    QCOMPARE(t.S.Task_State, int16_t(Task::Read_Identity));
}

} // namespace

class Tst_Grid_Click : public QObject {
    Q_OBJECT
  private slots:
    void placement_data();
    void placement();
    void ignored_data();
    void ignored();
    void deferred_while_bus_busy();
    void search_started_before_deferred_click_ran();
};

// Window client area 15465 x 10080 twips, panel 4764 x 4452, cells 600 x 400.
void Tst_Grid_Click::placement_data() {
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("cell_left");
    QTest::addColumn<int>("cell_top");
    QTest::addColumn<int>("left");
    QTest::addColumn<int>("top");
    QTest::addColumn<QString>("caption");

    QTest::newRow("middle") << 12 << 5000 << 3000 << 5300 << 3200 << "Position 012";
    QTest::newRow("right edge, exactly fits")
        << 1 << 10401 << 3000 << 10701 << 3200 << "Position 001";
    QTest::newRow("right edge, one twip over")
        << 16 << 10402 << 3000 << 5938 << 3200 << "Position 016";
    QTest::newRow("bottom edge, exactly fits")
        << 100 << 5000 << 5428 << 5300 << 5628 << "Position 100";
    QTest::newRow("bottom edge, one twip over")
        << 113 << 5000 << 5429 << 5300 << 1177 << "Position 113";
    QTest::newRow("bottom right corner") << 128 << 14000 << 8000 << 9536 << 3748 << "Position 128";
}

void Tst_Grid_Click::placement() {
    QFETCH(int, index);
    QFETCH(int, cell_left);
    QFETCH(int, cell_top);
    QFETCH(int, left);
    QFETCH(int, top);
    QFETCH(QString, caption);

    Tool t;
    Prepare(t);
    t.F.Adr_Box(index).Move(cell_left, cell_top, 600, 400);
    const uint16_t clicks = t.S.Selection_Count;

    Adr_Box_Click(t, index);

    QCOMPARE(t.F.Status_Frame.Left(), left);
    QCOMPARE(t.F.Status_Frame.Top(), top);
    QCOMPARE(t.F.Status_Frame.Width(), 4764);
    QCOMPARE(t.F.Status_Frame.Height(), 4452);
    Verify_Selected(t, index, caption);
    QCOMPARE(t.S.Selection_Count, uint16_t(clicks + 1));
}

void Tst_Grid_Click::ignored_data() {
    QTest::addColumn<bool>("locked");
    QTest::addColumn<int>("index");
    QTest::newRow("grid locked by a search") << true << 12;
    QTest::newRow("index 0") << false << 0;
    QTest::newRow("index 129") << false << 129;
    QTest::newRow("negative index") << false << -1;
}

void Tst_Grid_Click::ignored() {
    QFETCH(bool, locked);
    QFETCH(int, index);
    Tool t;
    Prepare(t);
    t.S.Grid_Locked = locked;
    const uint16_t clicks = t.S.Selection_Count;

    Adr_Box_Click(t, index);

    QVERIFY(Untouched(t));
    QCOMPARE(t.S.Selection_Count, clicks);
}

// During a bus step only the click's count moves; the selection itself follows the step.
void Tst_Grid_Click::deferred_while_bus_busy() {
    Tool t;
    Prepare(t);
    t.F.Adr_Box(12).Move(5000, 3000, 600, 400);
    const uint16_t clicks = t.S.Selection_Count;
    {
        Bus_Busy_Scope step(t);
        Adr_Box_Click(t, 12);
        QVERIFY(Untouched(t));
        QCOMPARE(t.S.Selection_Count, uint16_t(clicks + 1));
        t.S.Task_State = Task::Probe_Interface; // what a step writes at its end
    }
    Verify_Selected(t, 12, QStringLiteral("Position 012"));
}

void Tst_Grid_Click::search_started_before_deferred_click_ran() {
    Tool t;
    Prepare(t);
    {
        Bus_Busy_Scope step(t);
        Adr_Box_Click(t, 12);
        t.S.Grid_Locked = true;
    }
    QVERIFY(Untouched(t));
}

QTEST_MAIN(Tst_Grid_Click)
#include "tst_grid_click.moc"
