// The main window through its real widgets: placement in pixels, stacking, the model followed
// live, user input handed back to the model, keys seen before the focused control, closing.
#include "app/shell.h"
#include "app/tool.h"
#include "app/ui/main_window.h"
#include "app/ui/widgets.h"
#include "link/tempo.h"
#include "support/harness.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QMenu>
#include <QMenuBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>
#include <QtTest>

namespace {

// A port that is never there: the load sequence reports it and the task tick stays off, so
// nothing but the test moves the model.
class Absent_Port : public Serial_Port {
  public:
    bool Open(int) override { return false; }
    void Close() override {}
    bool PortOpen() const override { return false; }
    int InBufferCount() override { return 0; }
    QByteArray Input() override { return {}; }
    bool Output(uint8_t) override { return false; }
    QString Device_Name(int n) const override { return QStringLiteral("absent%1").arg(n); }
};

// A loaded tool in a scratch current directory, with its window shown.
struct Loaded_Window {
    QTemporaryDir dir;
    QString old_dir = QDir::currentPath();
    Test_Dialogs dialogs;
    Tool t;
    std::unique_ptr<Main_Window> w;

    Loaded_Window() {
        QDir::setCurrent(dir.path());
        t.Comm1 = std::make_unique<Absent_Port>();
        t.Dlg = &dialogs;
        Form_Load(t);
        w = std::make_unique<Main_Window>(t);
        w->Show_Centred();
        if (!QTest::qWaitForWindowExposed(w.get())) qWarning("window not exposed");
    }
    ~Loaded_Window() {
        w.reset();
        QDir::setCurrent(old_dir);
    }

    QWidget* find(const QString& name) const { return w->findChild<QWidget*>(name); }
    QWindow* window() const { return w->windowHandle(); }
    QPoint in_window(QWidget* widget, QPoint p) const { return widget->mapTo(w.get(), p); }
    void click(QWidget* widget, QPoint p = {}) const {
        if (p.isNull()) p = widget->rect().center();
        QTest::mouseClick(window(), Qt::LeftButton, {}, in_window(widget, p));
    }
    QColor pixel(int x, int y) const { return w->client()->grab().toImage().pixelColor(x, y); }
};

// Counts the key presses a widget itself receives.
class Key_Counter : public QObject {
  public:
    int presses = 0;
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::KeyPress) ++presses;
        return false;
    }
};

bool at_96_dpi(const QWidget* w) {
    return w->logicalDpiX() == 96 && w->logicalDpiY() == 96;
}

} // namespace

class Tst_Window : public QObject {
    Q_OBJECT
  private slots:
    void window_frame();
    void placement_in_pixels_data();
    void placement_in_pixels();
    void drawing_of_the_loop_data();
    void drawing_of_the_loop();
    void stacking();
    void shown_after_start_up_data();
    void shown_after_start_up();
    void model_changes_reach_the_widgets();
    void clicks_reach_the_model_data();
    void clicks_reach_the_model();
    void press_and_release_on_different_cells();
    void check_box_follows_the_model();
    void option_buttons();
    void keys_before_the_focused_control_data();
    void keys_before_the_focused_control();
    void f9_through_the_real_handler();
    void keys_of_another_window_are_not_seen();
    void mouse_pointer();
    void mouse_moves_data();
    void mouse_moves();
    void ending_the_program_data();
    void ending_the_program();
    void unload_by_the_program_closes_the_window();
};

void Tst_Window::window_frame() {
    Loaded_Window lw;
    QCOMPARE(lw.w->windowTitle(), QStringLiteral("BUS AUTOCODAGE TARNELIS"));
    const Qt::WindowFlags f = lw.w->windowFlags();
    QVERIFY(!(f & Qt::WindowMaximizeButtonHint));
    QVERIFY(!(f & Qt::WindowMinimizeButtonHint));
    QVERIFY(f & Qt::WindowCloseButtonHint);
    QVERIFY(!lw.w->windowIcon().isNull());
    // Fixed size: the client is 15465 x 10080 twips whatever is asked.
    if (at_96_dpi(lw.w.get())) QCOMPARE(lw.w->client()->size(), QSize(1031, 672));
    QCOMPARE(lw.w->minimumSize(), lw.w->maximumSize());
    // Menus inside the window; "&A propos..." has no drop-down.
    QVERIFY(!lw.w->menuBar()->isNativeMenuBar());
    const QList<QAction*> bar = lw.w->menuBar()->actions();
    QCOMPARE(bar.size(), 2);
    QCOMPARE(bar[0]->text(), QStringLiteral("&Utilitaires"));
    QVERIFY(bar[0]->menu());
    QStringList items;
    for (QAction* a : bar[0]->menu()->actions())
        items << a->text();
    QCOMPARE(items, QStringList({QString::fromUtf8("&Port Série"), QStringLiteral("&Quitter")}));
    QCOMPARE(bar[1]->text(), QStringLiteral("&A propos..."));
    QVERIFY(!bar[1]->menu());
    QVERIFY(bar[1]->shortcut().isEmpty());
    // The focus starts on the search button.
    QCOMPARE(lw.w->focusWidget(), lw.find("Start_Bus_Cmd"));
}

void Tst_Window::placement_in_pixels_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("container");
    QTest::addColumn<QRect>("pixels");
    // Twips / 15 at 96 dpi, each coordinate rounded on its own.
    QTest::newRow("cell 1") << "Adr_Box(1)"
                            << "Client" << QRect(153, 27, 40, 27);
    QTest::newRow("cell 16, right end of row 1") << "Adr_Box(16)"
                                                 << "Client" << QRect(953, 27, 40, 27);
    QTest::newRow("cell 17, under 16") << "Adr_Box(17)"
                                       << "Client" << QRect(953, 67, 40, 27);
    QTest::newRow("cell 32, under 1") << "Adr_Box(32)"
                                      << "Client" << QRect(153, 67, 40, 27);
    QTest::newRow("cell 113, right of the last row") << "Adr_Box(113)"
                                                     << "Client" << QRect(953, 307, 40, 27);
    QTest::newRow("cell 128, left of the last row") << "Adr_Box(128)"
                                                    << "Client" << QRect(153, 307, 40, 27);
    QTest::newRow("LED mark 17 on its cell's corner") << "Led_Shp(17)"
                                                      << "Client" << QRect(953, 67, 10, 10);
    QTest::newRow("Emul_Frm at 152,162") << "Emul_Frm"
                                         << "Client" << QRect(10, 11, 103, 58);
    QTest::newRow("Status_Frame") << "Status_Frame"
                                  << "Client" << QRect(384, 38, 318, 297);
    QTest::newRow("Status_Frm") << "Status_Frm"
                                << "Client" << QRect(6, 627, 1018, 39);
    QTest::newRow("Start_Bus_Cmd") << "Start_Bus_Cmd"
                                   << "Client" << QRect(6, 582, 137, 41);
    QTest::newRow("Phase_Frm") << "Phase_Frm"
                               << "Client" << QRect(467, 582, 167, 39);
    QTest::newRow("Phase_Option(2) in its frame") << "Phase_Option(2)"
                                                  << "Phase_Frm" << QRect(90, 19, 65, 14);
    QTest::newRow("Connection_Lbl in Emul_Frm") << "Connection_Lbl"
                                                << "Emul_Frm" << QRect(6, 13, 90, 14);
    QTest::newRow("last value row in the panel") << "Value_Lbl(15)"
                                                 << "Status_Frame" << QRect(166, 205, 146, 14);
    QTest::newRow("Opto_Check in the panel") << "Opto_Check"
                                             << "Status_Frame" << QRect(200, 232, 73, 28);
    QTest::newRow("Picture1 in the panel") << "Picture1"
                                           << "Status_Frame" << QRect(288, 264, 22, 32);
}

void Tst_Window::placement_in_pixels() {
    QFETCH(QString, name);
    QFETCH(QString, container);
    QFETCH(QRect, pixels);
    Loaded_Window lw;
    if (!at_96_dpi(lw.w.get())) QSKIP("the figures are written for 96 dpi");
    QWidget* w = lw.find(name);
    QVERIFY2(w, qPrintable(name));
    QCOMPARE(w->parentWidget()->objectName(), container);
    QCOMPARE(w->geometry(), pixels);
}

void Tst_Window::drawing_of_the_loop_data() {
    QTest::addColumn<QPoint>("at");
    QTest::addColumn<QString>("expected"); // "cyan", "cell", "workspace" or "panel"
    // Horizontal lines at y = 40, 80, ... 320; x from 113 (row 1), 133 (rows 2-7), 173 (row 8)
    // to 1013; vertical lines at x = 1013 (odd) and 133 (even), 5 pixels thick.
    QTest::newRow("row 1 between cells 1 and 2") << QPoint(200, 40) << "cyan";
    QTest::newRow("row 1, top edge of the stroke") << QPoint(200, 38) << "cyan";
    QTest::newRow("row 1, bottom edge of the stroke") << QPoint(200, 42) << "cyan";
    QTest::newRow("row 1, above the stroke") << QPoint(200, 35) << "workspace";
    QTest::newRow("row 1, below the stroke") << QPoint(200, 45) << "workspace";
    QTest::newRow("row 1 starts at the panel's right edge") << QPoint(116, 40) << "cyan";
    QTest::newRow("the panel covers the start of row 1") << QPoint(108, 40) << "panel";
    QTest::newRow("cell 1 lies over the line") << QPoint(156, 40) << "cell";
    QTest::newRow("row 1 goes past cell 16") << QPoint(1005, 40) << "cyan";
    QTest::newRow("vertical 1 on the right, rows 1 to 2") << QPoint(1013, 60) << "cyan";
    QTest::newRow("no vertical on the left between rows 1 and 2") << QPoint(133, 60) << "workspace";
    QTest::newRow("vertical 2 on the left, rows 2 to 3") << QPoint(133, 100) << "cyan";
    QTest::newRow("row 2 starts left of cell 32") << QPoint(140, 80) << "cyan";
    QTest::newRow("vertical 7 on the right, rows 7 to 8") << QPoint(1013, 300) << "cyan";
    QTest::newRow("row 8 ends inside cell 128") << QPoint(145, 320) << "workspace";
    QTest::newRow("row 8 between cells 128 and 127") << QPoint(200, 320) << "cyan";
    QTest::newRow("nothing under the grid") << QPoint(500, 400) << "workspace";
}

void Tst_Window::drawing_of_the_loop() {
    QFETCH(QPoint, at);
    QFETCH(QString, expected);
    Loaded_Window lw;
    if (!at_96_dpi(lw.w.get())) QSKIP("the figures are written for 96 dpi");
    const QPalette system = QApplication::palette();
    const QMap<QString, QColor> colours = {
        {"cyan", QColor(0, 255, 255)},
        {"cell", QColor(192, 192, 192)},
        {"workspace", system.color(QPalette::Dark)},
        {"panel",
         QColor(0xFF & lw.t.F.Emul_Frm.BackColor(), 0xFF & (lw.t.F.Emul_Frm.BackColor() >> 8),
                0xFF & (lw.t.F.Emul_Frm.BackColor() >> 16))}};
    QCOMPARE(lw.pixel(at.x(), at.y()).rgb(), colours.value(expected).rgb());
}

void Tst_Window::stacking() {
    Loaded_Window lw;
    Bus_Form& f = lw.t.F;
    const QObjectList order = lw.w->client()->children();
    auto z = [&](const Control& c) { return order.indexOf(lw.w->widget(c)); };
    QVERIFY(z(f.Hor_Bus_Line(1)) < z(f.Adr_Box(1)));
    QVERIFY(z(f.Ver_Bus_Line(7)) < z(f.Adr_Box(1)));
    QVERIFY(z(f.Adr_Box(128)) < z(f.Led_Shp(1)));
    QVERIFY(z(f.Led_Shp(128)) < z(f.Emul_Frm));
    QVERIFY(z(f.Adr_Box(128)) < z(f.Status_Frame));

    // A brought-forward cell passes the other cells, a brought-forward line stays under them.
    f.Adr_Box(2).ZOrder();
    f.Hor_Bus_Line(1).ZOrder();
    const QObjectList after = lw.w->client()->children();
    auto z2 = [&](const Control& c) { return after.indexOf(lw.w->widget(c)); };
    QVERIFY(z2(f.Adr_Box(128)) < z2(f.Adr_Box(2)));
    QVERIFY(z2(f.Adr_Box(2)) < z2(f.Led_Shp(2)));
    QVERIFY(z2(f.Hor_Bus_Line(1)) < z2(f.Adr_Box(1)));

    if (!at_96_dpi(lw.w.get())) QSKIP("the pixels below are written for 96 dpi");
    // Seen on screen: a lit LED mark over its cell, the open panel over the grid.
    f.Led_Shp(5).setVisible(true);
    f.Status_Frame.setVisible(true);
    // LED mark 5: 10 x 10 at (367, 27); cell 26 at (473, 67) lies under the panel.
    QCOMPARE(lw.pixel(372, 32).rgb(), QColor(255, 0, 0).rgb());
    QCOMPARE(lw.pixel(475, 90).rgb(), QApplication::palette().color(QPalette::Button).rgb());
}

void Tst_Window::shown_after_start_up_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("shown");
    for (const char* hidden :
         {"Led_Shp(1)", "Led_Shp(64)", "Led_Shp(128)", "Lgd_Lbl(0)", "Lgd_Lbl(3)", "Lgd_Shp(0)",
          "Lgd_Shp(3)", "Status_Frame", "Adr_Status_Cde", "Cur_Adr_Lbl", "Version_Lbl", "Cc_Lbl",
          "Send_Shp", "Receive_Shp"})
        QTest::newRow(hidden) << hidden << false;
    for (const char* shown : {"Start_Bus_Cmd", "Adr_Box(1)", "Adr_Box(128)", "Hor_Bus_Line(1)",
                              "Hor_Bus_Line(8)", "Ver_Bus_Line(7)", "Emul_Frm", "Connection_Lbl",
                              "Phase_Frm", "Status_Frm", "Current_Operation_Lbl"})
        QTest::newRow(shown) << shown << true;
}

void Tst_Window::shown_after_start_up() {
    QFETCH(QString, name);
    QFETCH(bool, shown);
    Loaded_Window lw;
    QWidget* w = lw.find(name);
    QVERIFY2(w, qPrintable(name));
    QCOMPARE(w->isVisible(), shown);
}

void Tst_Window::model_changes_reach_the_widgets() {
    Loaded_Window lw;
    Bus_Form& f = lw.t.F;
    auto label = [&](const char* name) { return qobject_cast<QLabel*>(lw.find(name)); };

    f.Connection_Lbl.setCaption(QString::fromUtf8("Connecté "));
    QCOMPARE(label("Connection_Lbl")->text(), QString::fromUtf8("Connecté "));
    f.Adr_Box(9).setCaption(QStringLiteral("009\nMURO-S1"));
    QCOMPARE(label("Adr_Box(9)")->text(), QStringLiteral("009\nMURO-S1"));
    QCOMPARE(label("Adr_Box(9)")->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
    QCOMPARE(label("Adr_Box(9)")->font().pointSizeF(), 7.0);
    QVERIFY(label("Adr_Box(9)")->font().bold());

    auto* button = qobject_cast<QPushButton*>(lw.find("Adr_Status_Cde"));
    f.Adr_Status_Cde.setCaption(QString::fromUtf8("ARRÊT SIMULATION"));
    QCOMPARE(button->text(), QString::fromUtf8("ARRÊT SIMULATION"));

    auto* panel = qobject_cast<Vb_Frame*>(lw.find("Status_Frame"));
    f.Status_Frame.setCaption(QStringLiteral("Position 017"));
    QCOMPARE(panel->caption(), QStringLiteral("Position 017"));
    f.Status_Frame.Move(100, 200);
    if (at_96_dpi(lw.w.get())) QCOMPARE(panel->pos(), QPoint(7, 13));

    QWidget* emul = lw.find("Emul_Frm");
    f.Emul_Frm.setBackColor(RGB(255, 255, 0));
    QCOMPARE(emul->palette().color(QPalette::Window), QColor(255, 255, 0));
    f.Emul_Frm.setBackColor(RGB(0, 255, 0));
    QCOMPARE(emul->palette().color(QPalette::Window), QColor(0, 255, 0));
    // &H00BBGGRR: blue in the high byte.
    f.Adr_Box(3).setBackColor(RGB(128, 128, 255));
    QCOMPARE(label("Adr_Box(3)")->palette().color(QPalette::Window), QColor(128, 128, 255));
    QVERIFY(label("Adr_Box(3)")->autoFillBackground());
    QVERIFY(!label("Lgd_Lbl(1)")->autoFillBackground()); // transparent

    // System colours come from the desktop palette.
    const QPalette system = QApplication::palette();
    QCOMPARE(lw.find("Picture1")->palette().color(QPalette::Window), system.color(QPalette::Base));
    QCOMPARE(lw.w->client()->palette().color(QPalette::Window), system.color(QPalette::Dark));
    QCOMPARE(label("Adr_Box(3)")->palette().color(QPalette::WindowText),
             system.color(QPalette::Text));

    QVERIFY(!lw.find("Cc_Lbl")->isVisible());
    f.Cc_Lbl.setVisible(true);
    QVERIFY(lw.find("Cc_Lbl")->isVisible());
    QCOMPARE(label("Cc_Lbl")->palette().color(QPalette::WindowText), QColor(255, 128, 128));
    f.Start_Bus_Cmd.setVisible(false);
    QVERIFY(lw.find("Start_Bus_Cmd")->isHidden());

    // Lines move with their end points.
    auto* line = qobject_cast<Vb_Line*>(lw.find("Hor_Bus_Line(2)"));
    f.Hor_Bus_Line(2).setLine(150, 300, 1500, 300);
    if (at_96_dpi(lw.w.get())) {
        QCOMPARE(line->p1(), QPoint(10, 20));
        QCOMPARE(line->p2(), QPoint(100, 20));
    }

    // Menu items follow too.
    f.Quit_Mnu.setVisible(false);
    QVERIFY(!lw.w->action(f.Quit_Mnu)->isVisible());
}

void Tst_Window::clicks_reach_the_model_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("open_panel");
    QTest::newRow("button") << "Close_Cmd" << true;
    QTest::newRow("cell") << "Adr_Box(17)" << false;
    QTest::newRow("cell with a lit LED mark on its corner") << "Adr_Box(5)" << false;
    QTest::newRow("parameter name") << "Param_Lbl(2)" << true;
    QTest::newRow("parameter value") << "Value_Lbl(2)" << true;
}

void Tst_Window::clicks_reach_the_model() {
    QFETCH(QString, name);
    QFETCH(bool, open_panel);
    Loaded_Window lw;
    Bus_Form& f = lw.t.F;
    if (open_panel) {
        f.Status_Frame.setVisible(true);
        f.Param_Lbl(2).setVisible(true);
        f.Value_Lbl(2).setVisible(true);
    }
    f.Led_Shp(5).setVisible(true);
    Control* target = nullptr;
    for (Control* c : f.All_Controls())
        if (lw.w->widget(*c) && lw.w->widget(*c)->objectName() == name) target = c;
    QVERIFY(target);
    QSignalSpy clicks(target, &Control::Click);
    QWidget* w = lw.w->widget(*target);
    // Clicked where the mark of a lit LED covers the cell: the mark lets the click through.
    const QPoint where = name == "Adr_Box(5)" ? QPoint(3, 3) : w->rect().center();
    lw.click(w, where);
    QCOMPARE(clicks.count(), 1);
}

void Tst_Window::press_and_release_on_different_cells() {
    Loaded_Window lw;
    QSignalSpy first(&lw.t.F.Adr_Box(1), &Control::Click);
    QSignalSpy second(&lw.t.F.Adr_Box(2), &Control::Click);
    QWidget* a = lw.find("Adr_Box(1)");
    QWidget* b = lw.find("Adr_Box(2)");
    QTest::mousePress(lw.window(), Qt::LeftButton, {}, lw.in_window(a, a->rect().center()));
    QTest::mouseRelease(lw.window(), Qt::LeftButton, {}, lw.in_window(b, b->rect().center()));
    QCOMPARE(first.count(), 0);
    QCOMPARE(second.count(), 0);
}

void Tst_Window::check_box_follows_the_model() {
    Loaded_Window lw;
    Bus_Form& f = lw.t.F;
    f.Status_Frame.setVisible(true);
    auto* box = qobject_cast<QAbstractButton*>(lw.find("Thermo_Check"));
    QVERIFY(box->isChecked());
    QSignalSpy clicks(&f.Thermo_Check, &Control::Click);

    lw.click(box);
    QCOMPARE(f.Thermo_Check.Value(), 0);
    QCOMPARE(clicks.count(), 1);
    QVERIFY(!box->isChecked());

    lw.click(box);
    QCOMPARE(f.Thermo_Check.Value(), 1);
    QCOMPARE(clicks.count(), 2);
    QVERIFY(box->isChecked());

    // A handler that refuses the change puts the value back: the box shows the model.
    QObject guard;
    connect(&f.Thermo_Check, &Control::Click, &guard, [&f] { f.Thermo_Check.setValue(1); });
    lw.click(box);
    QCOMPARE(f.Thermo_Check.Value(), 1);
    QVERIFY(box->isChecked());

    // Set by code.
    f.Opto_Check.setValue(0);
    QVERIFY(!qobject_cast<QAbstractButton*>(lw.find("Opto_Check"))->isChecked());
}

void Tst_Window::option_buttons() {
    Loaded_Window lw;
    Bus_Form& f = lw.t.F;
    auto* one = qobject_cast<QAbstractButton*>(lw.find("Phase_Option(1)"));
    auto* two = qobject_cast<QAbstractButton*>(lw.find("Phase_Option(2)"));
    QCOMPARE(one->isChecked(), f.Phase_Option(1).Value() != 0);
    QCOMPARE(two->isChecked(), f.Phase_Option(2).Value() != 0);

    QSignalSpy clicks_two(&f.Phase_Option(2), &Control::Click);
    lw.click(two);
    QCOMPARE(f.Phase_Option(2).Value(), 1);
    QCOMPARE(f.Phase_Option(1).Value(), 0);
    QVERIFY(two->isChecked());
    QVERIFY(!one->isChecked());

    // Clicking the selected option leaves it selected.
    lw.click(two);
    QVERIFY(two->isChecked());
    QCOMPARE(f.Phase_Option(2).Value(), 1);

    QSignalSpy clicks_one(&f.Phase_Option(1), &Control::Click);
    lw.click(one);
    QCOMPARE(clicks_one.count(), 1);
    QCOMPARE(f.Phase_Option(1).Value(), 1);
    QCOMPARE(f.Phase_Option(2).Value(), 0);
    QVERIFY(one->isChecked());
    QVERIFY(!two->isChecked());
    QVERIFY(clicks_two.count() >= 1);
}

void Tst_Window::keys_before_the_focused_control_data() {
    QTest::addColumn<QString>("focus");
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("shift");
    QTest::newRow("F5 on an option button")
        << "Phase_Option(2)" << int(Qt::Key_F5) << 0 << 116 << 0;
    QTest::newRow("F9 on the search button") << "Start_Bus_Cmd" << int(Qt::Key_F9) << 0 << 120 << 0;
    QTest::newRow("F5 with Shift")
        << "Phase_Option(1)" << int(Qt::Key_F5) << int(Qt::ShiftModifier) << 116 << 1;
    QTest::newRow("F9 with Ctrl and Alt") << "Start_Bus_Cmd" << int(Qt::Key_F9)
                                          << int(Qt::ControlModifier | Qt::AltModifier) << 120 << 6;
    QTest::newRow("F5 on a check box of the panel")
        << "Opto_Check" << int(Qt::Key_F5) << 0 << 116 << 0;
    QTest::newRow("a letter") << "Start_Bus_Cmd" << int(Qt::Key_A) << 0 << 65 << 0;
}

void Tst_Window::keys_before_the_focused_control() {
    QFETCH(QString, focus);
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(int, code);
    QFETCH(int, shift);
    Loaded_Window lw;
    lw.t.F.Status_Frame.setVisible(true);
    QList<QPair<int, int>> calls;
    QWidget* focused = lw.find(focus);
    bool focused_had_it_first = false;
    Key_Counter counter;
    lw.w->Key_Down = [&](Tool&, int k, int s) {
        calls.append({k, s});
        if (k == code) focused_had_it_first = counter.presses >= calls.size();
    };
    focused->installEventFilter(&counter);
    focused->setFocus();
    QCOMPARE(lw.w->focusWidget(), focused);

    QTest::keyClick(lw.window(), Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    // The modifier keys come as key presses of their own, before the key itself.
    QList<QPair<int, int>> of_the_key;
    for (const auto& call : calls)
        if (call.first == code) of_the_key.append(call);
    QCOMPARE(of_the_key.size(), 1);
    QCOMPARE(of_the_key[0].second, shift);
    QCOMPARE(calls.last().first, code);
    QVERIFY(!focused_had_it_first);
    // Not consumed: the focused control still gets it, after the window, once.
    QCOMPARE(counter.presses, calls.size());
}

void Tst_Window::f9_through_the_real_handler() {
    Loaded_Window lw;
    Bus_Form& f = lw.t.F;
    auto* button = qobject_cast<QPushButton*>(lw.find("Adr_Status_Cde"));
    lw.find("Phase_Option(2)")->setFocus();

    // Hidden button: nothing happens.
    QTest::keyClick(lw.window(), Qt::Key_F9);
    QCOMPARE(button->text(), QStringLiteral("ETAT DES ADRESSES (F9)"));

    lw.t.S.Adr_Count = 3;
    f.Adr_Status_Cde.setVisible(true);
    QTest::keyClick(lw.window(), Qt::Key_F9);
    QCOMPARE(button->text(), QString::fromUtf8("ARRÊT SIMULATION"));
    QVERIFY(lw.find("Lgd_Lbl(2)")->isVisible());
    QVERIFY(lw.find("Start_Bus_Cmd")->isHidden());
}

void Tst_Window::keys_of_another_window_are_not_seen() {
    Loaded_Window lw;
    int calls = 0;
    lw.w->Key_Down = [&](Tool&, int, int) { ++calls; };
    QWidget other;
    other.setFocusPolicy(Qt::StrongFocus);
    other.show();
    QVERIFY(QTest::qWaitForWindowExposed(&other));
    other.setFocus();
    QTest::keyClick(other.windowHandle(), Qt::Key_F5);
    QCOMPARE(calls, 0);
}

void Tst_Window::mouse_pointer() {
    Loaded_Window lw;
    QVERIFY(!QApplication::overrideCursor());
    lw.t.Screen.setMousePointer(Screen_Pointer::Hourglass);
    QVERIFY(QApplication::overrideCursor());
    QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    lw.t.Screen.setMousePointer(Screen_Pointer::Default);
    QVERIFY(!QApplication::overrideCursor());

    // The window going away does not leave the hourglass behind.
    lw.t.Screen.setMousePointer(Screen_Pointer::Hourglass);
    lw.w.reset();
    QVERIFY(!QApplication::overrideCursor());
}

void Tst_Window::mouse_moves_data() {
    QTest::addColumn<QString>("over");
    QTest::addColumn<QPoint>("at");
    QTest::addColumn<bool>("pointer_back_to_default");
    QTest::newRow("panel background") << "Status_Frame" << QPoint(160, 250) << true;
    QTest::newRow("parameter value") << "Value_Lbl(3)" << QPoint(5, 5) << true;
    // The frame's own move is for its background only.
    QTest::newRow("parameter name") << "Param_Lbl(3)" << QPoint(5, 5) << false;
    QTest::newRow("a grid cell") << "Adr_Box(113)" << QPoint(5, 5) << false;
}

void Tst_Window::mouse_moves() {
    QFETCH(QString, over);
    QFETCH(QPoint, at);
    QFETCH(bool, pointer_back_to_default);
    Loaded_Window lw;
    Bus_Form& f = lw.t.F;
    f.Status_Frame.setVisible(true);
    f.Param_Lbl(3).setVisible(true);
    f.Value_Lbl(3).setVisible(true);
    lw.t.Screen.setMousePointer(Screen_Pointer::Hourglass);
    QWidget* w = lw.find(over);
    QVERIFY(w);
    QTest::mouseMove(lw.window(), lw.in_window(w, at) + QPoint(1, 0));
    QTest::mouseMove(lw.window(), lw.in_window(w, at));
    QCOMPARE(lw.t.Screen.MousePointer() == Screen_Pointer::Default, pointer_back_to_default);
}

void Tst_Window::ending_the_program_data() {
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("task_state_after");
    QTest::addColumn<bool>("during_a_pause");
    QTest::newRow("close box") << "close box" << 3 << false;
    QTest::newRow("Quitter") << "Quitter" << 0 << false;
    QTest::newRow("close box during a pause") << "close box" << 3 << true;
    QTest::newRow("Quitter during a pause") << "Quitter" << 0 << true;
}

void Tst_Window::ending_the_program() {
    QFETCH(QString, how);
    QFETCH(int, task_state_after);
    QFETCH(bool, during_a_pause);
    Loaded_Window lw;
    lw.t.S.Task_State = 3;
    QVERIFY(!lw.t.S.Quit_Flag);

    QAction* quit = lw.w->action(lw.t.F.Quit_Mnu);
    QTimer::singleShot(100, lw.w.get(), [&] {
        if (how == "close box")
            lw.window()->close();
        else
            quit->trigger();
    });
    if (during_a_pause) QTimer::singleShot(0, [&] { Tempo_Wait(lw.t, 20000); });

    QElapsedTimer clock;
    clock.start();
    Main_Loop(lw.t);
    QVERIFY2(clock.elapsed() < 10000, "the main loop did not end when told to");
    QVERIFY(lw.t.S.Quit_Flag);
    QCOMPARE(int(lw.t.S.Task_State), task_state_after);
    QVERIFY(lw.t.F.Unloaded());
    QVERIFY(!lw.w->isVisible());
}

void Tst_Window::unload_by_the_program_closes_the_window() {
    Loaded_Window lw;
    QVERIFY(lw.w->isVisible());
    lw.t.F.Unload();
    QVERIFY(!lw.w->isVisible());
}

QTEST_MAIN(Tst_Window)
#include "tst_window.moc"
