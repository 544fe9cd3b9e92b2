// The address grid, the drawing of the loop and the interface panel as the load sequence
// leaves them (twips, relative to the window).
#include "app/shell.h"
#include "support/harness.h"

#include <QSet>
#include <QtTest>

class Tst_Grid_Model : public QObject {
    Q_OBJECT

    std::unique_ptr<Harness> h_;
    Bus_Form& F() { return h_->t.F; }

  private slots:
    void initTestCase() {
        h_ = std::make_unique<Harness>();
        h_->t.S.Adr_Type.fill(7);
        h_->load();
    }
    void cleanupTestCase() { h_.reset(); }

    // The serpentine: 16 at the right end of row 1 with 17 under it, 32 under 1, 113 at the
    // right and 128 at the left of the bottom row.
    void cellPlaces() {
        const int places[][3] = {{1, 2300, 400},   {16, 14300, 400}, {17, 14300, 1000},
                                 {32, 2300, 1000}, {33, 2300, 1600}, {113, 14300, 4600},
                                 {128, 2300, 4600}};
        for (const auto& p : places) {
            const Control& cell = F().Adr_Box(p[0]);
            QVERIFY2(cell.Left() == p[1] && cell.Top() == p[2] && cell.Width() == 600 &&
                         cell.Height() == 400,
                     QByteArray::number(p[0]));
        }
    }

    // Each address sits next to the one before it, so the addresses follow the drawn loop; each
    // cell starts grey and unidentified with its LED mark hidden.
    void everyCellAfterLoad() {
        QSet<QPair<int, int>> places;
        for (int n = 1; n <= 128; ++n) {
            const Control& cell = F().Adr_Box(n);
            const Control& prev = F().Adr_Box(std::max(n - 1, 1));
            const int dx = std::abs(cell.Left() - prev.Left()), dy = cell.Top() - prev.Top();
            places.insert({cell.Left(), cell.Top()});
            QVERIFY2(n == 1 || ((n - 1) % 16 ? dx == 800 && dy == 0 : dx == 0 && dy == 600),
                     QByteArray::number(n));
            QVERIFY(cell.Visible() && !F().Led_Shp(n).Visible() && h_->t.S.Adr_Type[n - 1] == 0);
            QCOMPARE(cell.BackColor(), Vb_Color(0x00C0C0C0));
            QCOMPARE(cell.Caption(), QStringLiteral("%1\n???").arg(n, 3, 10, QLatin1Char('0')));
        }
        QCOMPARE(places.size(), 128);
    }

    void loopLines() {
        // horizontal or vertical, index, x1, y1, x2, y2
        const int lines[][6] = {{1, 1, 1700, 600, 15200, 600}, // from the panel
                                {1, 2, 2000, 1200, 15200, 1200}, {1, 7, 2000, 4200, 15200, 4200},
                                {1, 8, 2600, 4800, 15200, 4800}, // into cell 128
                                {0, 1, 15200, 600, 15200, 1200}, {0, 2, 2000, 1200, 2000, 1800},
                                {0, 7, 15200, 4200, 15200, 4800}};
        for (const auto& l : lines) {
            const Control& line = l[0] ? F().Hor_Bus_Line(l[1]) : F().Ver_Bus_Line(l[1]);
            QCOMPARE((QList<int>{line.X1(), line.Y1(), line.X2(), line.Y2()}),
                     (QList<int>{l[2], l[3], l[4], l[5]}));
            QVERIFY(line.Visible() && line.ForeColor() == Vb_Color(0x00FFFF00));
        }
    }

    void interfacePanelAtHeadOfLoop() {
        const Control& panel = F().Emul_Frm;
        QCOMPARE((QList<int>{panel.Left(), panel.Top(), panel.Left() + panel.Width()}),
                 (QList<int>{152, 162, F().Hor_Bus_Line(1).X1()}));
    }

    void visibilityAfterLoad() {
        QHash<QString, bool> visible;
        for (const Control* c : F().All_Controls())
            visible[c->Name().startsWith("Lgd_")
                        ? QStringLiteral("%1(%2)").arg(c->Name()).arg(c->Index())
                        : c->Name()] = c->Visible();
        for (const char* name :
             {"Status_Frame", "Adr_Status_Cde", "Cur_Adr_Lbl", "Version_Lbl", "Cc_Lbl", "Send_Shp",
              "Receive_Shp", "Lgd_Lbl(0)", "Lgd_Lbl(1)", "Lgd_Lbl(2)", "Lgd_Lbl(3)", "Lgd_Shp(0)",
              "Lgd_Shp(1)", "Lgd_Shp(2)", "Lgd_Shp(3)"})
            QVERIFY2(!visible.value(name, true), name);
        for (const char* name :
             {"Start_Bus_Cmd", "Emul_Frm", "Phase_Frm", "Current_Operation_Lbl", "Connection_Lbl"})
            QVERIFY2(visible.value(name, false), name);
    }
};

QTEST_GUILESS_MAIN(Tst_Grid_Model)
#include "tst_grid_model.moc"
