// The address grid, the drawing of the loop and the interface panel as the load sequence
// leaves them (twips, relative to the window).
#include "app/shell.h"
#include "app/tool.h"
#include "support/harness.h"

#include <QDir>
#include <QSet>
#include <QTemporaryDir>
#include <QtTest>

class Tst_Grid_Model : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QString old_dir_;
    Test_Dialogs dialogs_;
    std::unique_ptr<Tool> t_;

    Bus_Form& F() { return t_->F; }

  private slots:
    void initTestCase() {
        QVERIFY(dir_.isValid());
        old_dir_ = QDir::currentPath();
        QDir::setCurrent(dir_.path());
        t_ = std::make_unique<Tool>();
        t_->Dlg = &dialogs_;
        t_->S.Adr_Type.fill(7);
        Form_Load(*t_);
    }
    void cleanupTestCase() {
        t_.reset();
        QDir::setCurrent(old_dir_);
    }

    void cellPlace_data() {
        QTest::addColumn<int>("address");
        QTest::addColumn<int>("left");
        QTest::addColumn<int>("top");
        QTest::addColumn<QString>("caption");
        QTest::newRow("1, top left") << 1 << 2300 << 400 << "001\n???";
        QTest::newRow("2") << 2 << 3100 << 400 << "002\n???";
        QTest::newRow("16, top right") << 16 << 14300 << 400 << "016\n???";
        QTest::newRow("17, under 16") << 17 << 14300 << 1000 << "017\n???";
        QTest::newRow("18") << 18 << 13500 << 1000 << "018\n???";
        QTest::newRow("32, under 1") << 32 << 2300 << 1000 << "032\n???";
        QTest::newRow("33, third row left") << 33 << 2300 << 1600 << "033\n???";
        QTest::newRow("64") << 64 << 2300 << 2200 << "064\n???";
        QTest::newRow("65") << 65 << 2300 << 2800 << "065\n???";
        QTest::newRow("100") << 100 << 4700 << 4000 << "100\n???";
        QTest::newRow("112, seventh row right") << 112 << 14300 << 4000 << "112\n???";
        QTest::newRow("113, bottom right") << 113 << 14300 << 4600 << "113\n???";
        QTest::newRow("128, bottom left") << 128 << 2300 << 4600 << "128\n???";
    }
    void cellPlace() {
        QFETCH(int, address);
        QFETCH(int, left);
        QFETCH(int, top);
        QFETCH(QString, caption);
        const Control& cell = F().Adr_Box(address);
        QCOMPARE(cell.Left(), left);
        QCOMPARE(cell.Top(), top);
        QCOMPARE(cell.Width(), 600);
        QCOMPARE(cell.Height(), 400);
        QCOMPARE(cell.Caption(), caption);
    }

    // Each address sits next to the one before it, so the addresses follow the drawn loop.
    void serpentineIsContinuous() {
        QSet<QPair<int, int>> places;
        for (int n = 1; n <= 128; ++n) {
            const Control& cell = F().Adr_Box(n);
            places.insert({cell.Left(), cell.Top()});
            QVERIFY(cell.Left() >= 2300 && cell.Left() <= 14300);
            QVERIFY(cell.Top() >= 400 && cell.Top() <= 4600);
            if (n == 1) continue;
            const Control& prev = F().Adr_Box(n - 1);
            const int dx = std::abs(cell.Left() - prev.Left());
            const int dy = cell.Top() - prev.Top();
            if ((n - 1) % 16 == 0)
                QVERIFY2(dx == 0 && dy == 600, qPrintable(QString::number(n)));
            else
                QVERIFY2(dx == 800 && dy == 0, qPrintable(QString::number(n)));
        }
        QCOMPARE(places.size(), 128);
    }

    void everyCellAfterLoad() {
        for (int n = 1; n <= 128; ++n) {
            const Control& cell = F().Adr_Box(n);
            const Control& led = F().Led_Shp(n);
            const QString at = QString::number(n);
            QVERIFY2(cell.Visible(), qPrintable(at));
            QCOMPARE(cell.BackColor(), Vb_Color(0x00C0C0C0));
            QCOMPARE(cell.Font().Size, 7.0);
            QCOMPARE(cell.Font().Name, QStringLiteral("Arial"));
            QVERIFY(cell.Font().Bold);
            QCOMPARE(cell.Alignment(), 2);
            QCOMPARE(cell.Caption().left(3), QStringLiteral("%1").arg(n, 3, 10, QChar('0')));
            QVERIFY(cell.Caption().endsWith(QStringLiteral("\n???")));
            QCOMPARE(int(t_->S.Adr_Type[n - 1]), 0);

            QVERIFY2(!led.Visible(), qPrintable(at));
            QCOMPARE(led.Left(), cell.Left());
            QCOMPARE(led.Top(), cell.Top());
            QCOMPARE(led.Width(), 150);
            QCOMPARE(led.Height(), 150);
            QCOMPARE(led.BackColor(), Vb_Color(0x000000FF));
            QVERIFY2(led.Z() > cell.Z(), qPrintable(at));
        }
    }

    void loopLines_data() {
        QTest::addColumn<bool>("horizontal");
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("x1");
        QTest::addColumn<int>("y1");
        QTest::addColumn<int>("x2");
        QTest::addColumn<int>("y2");
        QTest::newRow("hor 1, from the panel") << true << 1 << 1700 << 600 << 15200 << 600;
        QTest::newRow("hor 2") << true << 2 << 2000 << 1200 << 15200 << 1200;
        QTest::newRow("hor 3") << true << 3 << 2000 << 1800 << 15200 << 1800;
        QTest::newRow("hor 4") << true << 4 << 2000 << 2400 << 15200 << 2400;
        QTest::newRow("hor 5") << true << 5 << 2000 << 3000 << 15200 << 3000;
        QTest::newRow("hor 6") << true << 6 << 2000 << 3600 << 15200 << 3600;
        QTest::newRow("hor 7") << true << 7 << 2000 << 4200 << 15200 << 4200;
        QTest::newRow("hor 8, into cell 128") << true << 8 << 2600 << 4800 << 15200 << 4800;
        QTest::newRow("ver 1, right") << false << 1 << 15200 << 600 << 15200 << 1200;
        QTest::newRow("ver 2, left") << false << 2 << 2000 << 1200 << 2000 << 1800;
        QTest::newRow("ver 3, right") << false << 3 << 15200 << 1800 << 15200 << 2400;
        QTest::newRow("ver 4, left") << false << 4 << 2000 << 2400 << 2000 << 3000;
        QTest::newRow("ver 5, right") << false << 5 << 15200 << 3000 << 15200 << 3600;
        QTest::newRow("ver 6, left") << false << 6 << 2000 << 3600 << 2000 << 4200;
        QTest::newRow("ver 7, right") << false << 7 << 15200 << 4200 << 15200 << 4800;
    }
    void loopLines() {
        QFETCH(bool, horizontal);
        QFETCH(int, index);
        QFETCH(int, x1);
        QFETCH(int, y1);
        QFETCH(int, x2);
        QFETCH(int, y2);
        const Control& line = horizontal ? F().Hor_Bus_Line(index) : F().Ver_Bus_Line(index);
        QCOMPARE(line.X1(), x1);
        QCOMPARE(line.Y1(), y1);
        QCOMPARE(line.X2(), x2);
        QCOMPARE(line.Y2(), y2);
        QVERIFY(line.Visible());
        QCOMPARE(line.ForeColor(), Vb_Color(0x00FFFF00));
        QCOMPARE(line.BorderWidth(), 5);
    }

    void interfacePanelAtHeadOfLoop() {
        const Control& panel = F().Emul_Frm;
        QCOMPARE(panel.Left(), 152);
        QCOMPARE(panel.Top(), 162);
        QCOMPARE(panel.Width(), 1548);
        QCOMPARE(panel.Height(), 876);
        QCOMPARE(panel.Left() + panel.Width(), F().Hor_Bus_Line(1).X1());
        QVERIFY(panel.Visible());
    }

    void visibilityAfterLoad_data() {
        QTest::addColumn<QString>("control");
        QTest::addColumn<bool>("visible");
        for (int i = 0; i <= 3; ++i) {
            QTest::addRow("Lgd_Lbl(%d)", i) << QStringLiteral("Lgd_Lbl(%1)").arg(i) << false;
            QTest::addRow("Lgd_Shp(%d)", i) << QStringLiteral("Lgd_Shp(%1)").arg(i) << false;
        }
        QTest::newRow("Status_Frame") << "Status_Frame" << false;
        QTest::newRow("Adr_Status_Cde") << "Adr_Status_Cde" << false;
        QTest::newRow("Cur_Adr_Lbl") << "Cur_Adr_Lbl" << false;
        QTest::newRow("Version_Lbl") << "Version_Lbl" << false;
        QTest::newRow("Cc_Lbl") << "Cc_Lbl" << false;
        QTest::newRow("Send_Shp") << "Send_Shp" << false;
        QTest::newRow("Receive_Shp") << "Receive_Shp" << false;
        QTest::newRow("Start_Bus_Cmd") << "Start_Bus_Cmd" << true;
        QTest::newRow("Emul_Frm") << "Emul_Frm" << true;
        QTest::newRow("Phase_Frm") << "Phase_Frm" << true;
        QTest::newRow("Current_Operation_Lbl") << "Current_Operation_Lbl" << true;
        QTest::newRow("Connection_Lbl") << "Connection_Lbl" << true;
    }
    void visibilityAfterLoad() {
        QFETCH(QString, control);
        QFETCH(bool, visible);
        const Control* found = nullptr;
        for (const Control* c : F().All_Controls()) {
            const QString name = c->Index() >= 0 && c->Name().startsWith("Lgd_")
                                     ? QStringLiteral("%1(%2)").arg(c->Name()).arg(c->Index())
                                     : c->Name();
            if (name == control) found = c;
        }
        QVERIFY2(found, qPrintable(control));
        QCOMPARE(found->Visible(), visible);
    }

    // The grid is placed from the cell's size read back after it has been set, so a cell
    // designed at another size still ends up on the 600 x 400 layout.
    void gridIgnoresDesignedCellSize() {
        Tool other;
        other.F.Adr_Box(1).Move(10, 20, 999, 111);
        Build_Grid(other);
        Draw_Loop(other);
        Place_Emul_Frm(other);
        QCOMPARE(other.F.Adr_Box(17).Left(), 14300);
        QCOMPARE(other.F.Adr_Box(17).Top(), 1000);
        QCOMPARE(other.F.Adr_Box(128).Width(), 600);
        QCOMPARE(other.F.Ver_Bus_Line(2).Y2(), 1800);
        QCOMPARE(other.F.Emul_Frm.Top(), 162);
    }
};

QTEST_GUILESS_MAIN(Tst_Grid_Model)
#include "tst_grid_model.moc"
