#include "addresses/grid.h"
#include "app/tool.h"
#include "engine/requests.h"

#include <QtTest>

namespace {

// The panel, selection, task state, shown rows and LED buttons, and clicks counted, as one text.
QString Panel(const Tool& t, uint16_t clicks_before) {
    int rows = 0;
    for (int r = 0; r <= 15; ++r)
        rows += t.F.Param_Lbl(r).Visible() + t.F.Value_Lbl(r).Visible();
    const Control& p = t.F.Status_Frame;
    return QStringLiteral("%1 at %2,%3 size %4x%5 shown %6 sel %7 state %8 rows %9")
               .arg(p.Caption())
               .arg(p.Left())
               .arg(p.Top())
               .arg(p.Width())
               .arg(p.Height())
               .arg(p.Visible())
               .arg(t.S.Sel_Adr)
               .arg(t.S.Task_State)
               .arg(rows) +
           QStringLiteral(" led %1 lock %2 clicks %3")
               .arg(t.F.Led_On_Cde.Visible() + t.F.Led_Off_Cde.Visible())
               .arg(t.S.Check_Lock)
               .arg(t.S.Selection_Count - clicks_before);
}

const QString Untouched = QStringLiteral("Position 040 at 1000,2000 size 4764x4452 shown 0 sel 40 "
                                         "state 9 rows 32 led 2 lock 1 clicks %1");
const QString Opened =
    QStringLiteral(" size 4764x4452 shown 1 sel %1 state 5 rows 0 led 0 lock 0 clicks 1");

} // namespace

class Tst_Grid_Click : public QObject {
    Q_OBJECT
  private slots:
    void click_data();
    void click();
};

// Window client area 15465 x 10080 twips, panel 4764 x 4452, cells 600 x 400.
void Tst_Grid_Click::click_data() {
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("cell_left");
    QTest::addColumn<int>("cell_top");
    QTest::addColumn<QString>("when"); // idle, locked (a search runs), or during a bus step
    QTest::addColumn<QString>("panel");

    QTest::newRow("middle") << 12 << 5000 << 3000 << "idle"
                            << "Position 012 at 5300,3200" + Opened.arg(12);
    QTest::newRow("right edge, fits exactly") << 1 << 10401 << 3000 << "idle"
                                              << "Position 001 at 10701,3200" + Opened.arg(1);
    QTest::newRow("right edge, one over") << 16 << 10402 << 3000 << "idle"
                                          << "Position 016 at 5938,3200" + Opened.arg(16);
    QTest::newRow("bottom edge, fits exactly") << 100 << 5000 << 5428 << "idle"
                                               << "Position 100 at 5300,5628" + Opened.arg(100);
    QTest::newRow("bottom edge, one over") << 113 << 5000 << 5429 << "idle"
                                           << "Position 113 at 5300,1177" + Opened.arg(113);
    QTest::newRow("bottom right corner") << 128 << 14000 << 8000 << "idle"
                                         << "Position 128 at 9536,3748" + Opened.arg(128);
    QTest::newRow("grid locked by a search") << 12 << 5000 << 3000 << "locked" << Untouched.arg(0);
    QTest::newRow("index 0") << 0 << 0 << 0 << "idle" << Untouched.arg(0);
    QTest::newRow("index 129") << 129 << 0 << 0 << "idle" << Untouched.arg(0);
    QTest::newRow("during a bus step") << 12 << 5000 << 3000 << "step"
                                       << "Position 012 at 5300,3200" + Opened.arg(12);
    QTest::newRow("during a bus step, then a search starts")
        << 12 << 5000 << 3000 << "step, search" << Untouched.arg(1);
}

void Tst_Grid_Click::click() {
    QFETCH(int, index);
    QFETCH(int, cell_left);
    QFETCH(int, cell_top);
    QFETCH(QString, when);
    QFETCH(QString, panel);

    // A panel left open on address 40 by an earlier readout, every row shown.
    Tool t;
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
    if (index >= 1 && index <= 128) t.F.Adr_Box(index).Move(cell_left, cell_top, 600, 400);
    t.S.Grid_Locked = when == "locked";
    const uint16_t before = t.S.Selection_Count;

    if (when.startsWith("step")) {
        // Only the count moves during the step, so a readout under way stops; the selection
        // follows the step unless a search has locked the grid meanwhile.
        Bus_Busy_Scope step(t);
        Adr_Box_Click(t, index);
        QCOMPARE(Panel(t, before), Untouched.arg(1));
        t.S.Grid_Locked = when.endsWith("search");
        if (!t.S.Grid_Locked) t.S.Task_State = Task::Probe_Interface; // as a step ends
    } else {
        Adr_Box_Click(t, index);
    }
    QCOMPARE(Panel(t, before), panel);
}

QTEST_MAIN(Tst_Grid_Click)
#include "tst_grid_click.moc"
