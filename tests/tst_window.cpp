// The main window through its real widgets (pixels at 96 dpi, what shows after start-up, keys
// seen before the focused control, the two ways out), the main loop, the task tick and the
// paced delay.
#include "app/shell.h"
#include "app/ui/look.h"
#include "app/ui/main_window.h"
#include "app/ui/widgets.h"
#include "engine/tempo.h"
#include "support/harness.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QStyleOptionButton>
#include <QWindow>
#include <QtTest>

namespace {

struct Shown : Harness {
    std::unique_ptr<Main_Window> w;
    Shown() {
        load();
        w = std::make_unique<Main_Window>(t);
        w->show_centred();
        if (!QTest::qWaitForWindowExposed(w.get())) qWarning("window not exposed");
    }
    QWidget* find(const QString& name) const { return w->findChild<QWidget*>(name); }
    QRgb pixel(QPoint p) const { return w->client()->grab().toImage().pixel(p); }
    bool at_96_dpi() const { return w->logicalDpiX() == 96 && w->logicalDpiY() == 96; }
};

} // namespace

// A state without a step: Bus_Task turns it into 1 and sends nothing, so a step shows as
// Task_State going from this value to 1.
constexpr int16_t No_Step_State = 99;

class Tst_Window : public QObject {
    Q_OBJECT

  private slots:
    void frame_and_menus() {
        Shown s;
        QCOMPARE(s.w->windowTitle(), QStringLiteral("BUS AUTOCODAGE TARNELIS"));
        QVERIFY(
            !(s.w->windowFlags() & (Qt::WindowMaximizeButtonHint | Qt::WindowMinimizeButtonHint)));
        QCOMPARE(s.w->minimumSize(), s.w->maximumSize());
        if (s.at_96_dpi()) QCOMPARE(s.w->client()->size(), QSize(1031, 672));
        QStringList menus;
        for (QAction* a : s.w->menuBar()->actions()) {
            menus << a->text();
            for (QAction* entry : a->menu() ? a->menu()->actions() : QList<QAction*>())
                menus << "  " + entry->text();
        }
        QCOMPARE(menus.join('|'),
                 QString::fromUtf8("&Utilitaires|  &Port Série|  &Quitter|&A propos..."));
        QCOMPARE(s.w->focusWidget(), s.find("Start_Bus_Cmd"));
    }

    void placement_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("container");
        QTest::addColumn<QRect>("pixels"); // twips / 15, each coordinate rounded on its own
        const auto place = [](const char* row, const char* name, const char* in, QRect r) {
            QTest::newRow(row) << QString(name) << QString(in) << r;
        };
        place("cell 1", "Adr_Box(1)", "Client", {153, 27, 40, 27});
        place("cell 16, right of row 1", "Adr_Box(16)", "Client", {953, 27, 40, 27});
        place("cell 17, under 16", "Adr_Box(17)", "Client", {953, 67, 40, 27});
        place("cell 32, under 1", "Adr_Box(32)", "Client", {153, 67, 40, 27});
        place("cell 113, bottom right", "Adr_Box(113)", "Client", {953, 307, 40, 27});
        place("cell 128, bottom left", "Adr_Box(128)", "Client", {153, 307, 40, 27});
        place("panel at 152, 162", "Emul_Frm", "Client", {10, 11, 103, 58});
        place("label in the panel", "Connection_Lbl", "Emul_Frm", {6, 13, 90, 14});
        place("detector panel", "Status_Frame", "Client", {384, 38, 318, 297});
        place("check box in it", "Opto_Check", "Status_Frame", {200, 232, 73, 28});
    }
    void placement() {
        QFETCH(QString, name);
        QFETCH(QString, container);
        QFETCH(QRect, pixels);
        Shown s;
        if (!s.at_96_dpi()) QSKIP("the figures are written for 96 dpi");
        QWidget* w = s.find(name);
        QVERIFY2(w, qPrintable(name));
        QCOMPARE(w->parentWidget()->objectName(), container);
        // A label without a background of its own may reach lower, for its descenders.
        const bool see_through = qobject_cast<QLabel*>(w) && !w->autoFillBackground();
        QCOMPARE(w->geometry().adjusted(0, 0, 0, see_through ? pixels.height() - w->height() : 0),
                 pixels);
        QVERIFY(w->height() >= pixels.height());
    }

    // A screen too small for the window (a 1366 x 768 laptop at 125 % and 200 %) gets all of it,
    // scaled down with its proportions kept; one big enough gets it as designed.
    void fits_the_screen_data() {
        QTest::addColumn<QSize>("available");
        QTest::addColumn<bool>("scaled");
        QTest::newRow("1920 x 1080") << QSize(1920, 1080) << false;
        QTest::newRow("1366 x 768 at 100 %, with a panel") << QSize(1366, 738) << false;
        QTest::newRow("1366 x 768 at 125 %") << QSize(1093, 614) << true;
        QTest::newRow("1366 x 768 at 200 %") << QSize(683, 384) << true;
        QTest::newRow("narrow") << QSize(900, 1080) << true;
    }
    void fits_the_screen() {
        QFETCH(QSize, available);
        QFETCH(bool, scaled);
        Shown s;
        if (!s.at_96_dpi()) QSKIP("the figures are written for 96 dpi");
        const QSize frame(Main_Window::Frame_Allowance_X, Main_Window::Frame_Allowance_Y);
        const QSize chrome = s.w->size() - s.w->client()->size() + frame;
        const double z = look::fit_zoom(QSize(1031, 672), chrome, available);
        QCOMPARE(z < 1, scaled);
        s.w->set_zoom(z);
        const QSize outer = s.w->size() + frame;
        QVERIFY(outer.width() <= available.width() && outer.height() <= available.height());
        if (scaled)
            QVERIFY(outer.width() >= available.width() - 2 ||
                    outer.height() >= available.height() - 2);
        // Every control where the design puts it, at scale; the last cell and the status line.
        const QRect cell = s.find("Adr_Box(128)")->geometry();
        QVERIFY(qAbs(cell.x() - 153 * z) <= 1 && qAbs(cell.bottom() - 333 * z) <= 2);
        QVERIFY(qAbs(s.find("Status_Frm")->geometry().bottom() - 665 * z) <= 2);
        for (QWidget* w : s.w->client()->findChildren<QWidget*>())
            QVERIFY2(s.w->client()->rect().contains(w->geometry()) || w->isHidden(),
                     qPrintable(w->objectName()));
    }

    // A type name stays on its line of the cell, whole, whatever font stands in for the design's
    // and at whatever scale: a MURO-S would otherwise lose its running number to a line break.
    void type_names_fit_their_cells_data() {
        QTest::addColumn<double>("zoom");
        QTest::newRow("as designed") << 1.0;
        QTest::newRow("scaled down") << 0.49;
    }
    void type_names_fit_their_cells() {
        QFETCH(double, zoom);
        Shown s;
        s.w->set_zoom(zoom);
        for (const char* name : {"MURO-S8", "DLX508B", "ZEPHA", "KTRW"}) {
            s.t.form.Adr_Box(9).set_caption(QStringLiteral("009\n") + name);
            QWidget* cell = s.find("Adr_Box(9)");
            QVERIFY2(cell->fontMetrics().horizontalAdvance(name) < cell->width(), name);
        }
    }

    // Every caption the tool shows, in full with the fonts the scripts install: wrapped at blanks
    // only, within the area its control draws text in.
    void captions_fit_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("captions");
        const auto row = [](const char* name, const char* captions) {
            QTest::newRow(name) << QString(name) << QString::fromUtf8(captions).split('|');
        };
        row("Start_Bus_Cmd", "RECHERCHER ADRESSES (F5)");
        row("Adr_Status_Cde", "ETAT DES ADRESSES (F9)|ARRÊT SIMULATION");
        row("Phase_Frm", "Protocole");
        row("Status_Frm", "Status");
        row("Emul_Frm", "Emulateur de Bus");
        row("Status_Frame", "Etat|Position 128");
        row("Adr_Box(128)", "128\n???|128\nKOR|128\nDLX508B|128\nKTRW|128\nZEPHA|128\nMURO-S8");
        row("Current_Operation_Lbl", "Attente Commande|Rearmement...Patienter...|Recherches "
                                     "Adresses raccordées|Lecture type Adresses|SIMULATION "
                                     "GESTION BUS PAR ECS");
        row("Cur_Adr_Lbl",
            "Position = 128|Position = 128 Type adresse = 255| 128 Adresses trouvées");
        row("Search_Stop_Lbl", "Recherche interrompue\nen 128 : réponse incomplète|Recherche "
                               "impossible\nréarmement : écho incorrect");
        row("Connection_Lbl", "Déconnecté|Deconnecté|Connecté ");
        row("Version_Lbl", "(Ver.15.15)");
        row("Cc_Lbl", "COURT-CIRCUIT");
        row("Lgd_Lbl(0)", "=Veille");
        row("Lgd_Lbl(1)", "=Défaut com");
        row("Lgd_Lbl(2)", "=Défaut du point");
        row("Lgd_Lbl(3)", "=point en Alarme");
        row("Phase_Option(1)", "Phase 1");
        row("Param_Lbl(2)",
            "Type détecteur|Version PCB|Version Soft|N° série|Valeur Initiale|Seuil "
            "Alarme|Seuil Défaut|Nombre de requêtes|Nombre de conv.Défaut|Largeur "
            "Strobe|Type de moyenne|Délai ampli|Mode détection");
        row("Param_Lbl(12)", "Nombre de vérification Défaut");
        row("Value_Lbl(14)", "Optique Thermovélo|Optique Statique|Statique|???|255|15.15|"
                             "085965535");
        row("Led_On_Cde", "LED ON");
        row("Led_Off_Cde", "LED OFF");
        row("Opto_Check", "Optique (EN54-7)");
        row("Thermo_Check", "Thermique (EN54-5)");
        row("Close_Cmd", "FERMER");
    }
    void captions_fit() {
        QFETCH(QString, name);
        QFETCH(QStringList, captions);
        Shown s;
        QWidget* w = s.find(name);
        Control* c = nullptr;
        for (Control* each : s.t.form.all_controls())
            if (s.w->widget(*each) == w) c = each;
        QVERIFY2(w && c, qPrintable(name));
        if (!QFontInfo(w->font()).family().startsWith("Liberation Sans"))
            QFAIL("Liberation Sans is missing: scripts/test installs fonts-liberation2");
        QRect area = w->rect();
        if (auto* b = qobject_cast<QPushButton*>(w)) {
            QStyleOptionButton o;
            o.initFrom(b);
            area = b->style()->subElementRect(QStyle::SE_PushButtonContents, &o, b);
        } else if (auto* t = qobject_cast<Vb_Toggle*>(w)) {
            area = t->text_rect();
        } else if (qobject_cast<Vb_Frame*>(w)) {
            area.adjust(8, 0, -6, 0); // one line, beside the border's corner
        }
        for (const QString& caption : captions) {
            c->set_caption(caption);
            const QFontMetrics fm(w->font());
            for (const QString& word : caption.split(QRegularExpression("[ \n]")))
                QVERIFY2(fm.horizontalAdvance(word) <= area.width(), qPrintable(word));
            const QRect used = fm.boundingRect(area, Qt::TextWordWrap, caption);
            QVERIFY2(used.height() <= area.height() && used.width() <= area.width(),
                     qPrintable(caption));
        }
    }

    void drawing_data() {
        QTest::addColumn<QPoint>("at");
        QTest::addColumn<QString>("seen");
        // Lines 5 pixels thick at y = 40, 80 ... 320; verticals at x = 1013 (right) and 133.
        QTest::newRow("row 1, stroke top") << QPoint(200, 38) << "cyan";
        QTest::newRow("row 1, above the stroke") << QPoint(200, 35) << "workspace";
        QTest::newRow("row 1 from the panel's right edge") << QPoint(116, 40) << "cyan";
        QTest::newRow("panel over the start of row 1") << QPoint(108, 40) << "yellow panel";
        QTest::newRow("cell 1 over the line") << QPoint(156, 40) << "cell";
        QTest::newRow("row 1 past cell 16") << QPoint(1005, 40) << "cyan";
        QTest::newRow("right vertical, rows 1-2") << QPoint(1013, 60) << "cyan";
        QTest::newRow("no left vertical, rows 1-2") << QPoint(133, 60) << "workspace";
        QTest::newRow("left vertical, rows 2-3") << QPoint(133, 100) << "cyan";
        QTest::newRow("row 8 ends inside cell 128") << QPoint(145, 320) << "workspace";
        QTest::newRow("row 8 between 128 and 127") << QPoint(200, 320) << "cyan";
    }
    void drawing() {
        QFETCH(QPoint, at);
        QFETCH(QString, seen);
        Shown s;
        if (!s.at_96_dpi()) QSKIP("the figures are written for 96 dpi");
        const QMap<QString, QRgb> colours = {
            {"cyan", qRgb(0, 255, 255)},
            {"cell", qRgb(192, 192, 192)},
            {"workspace", QApplication::palette().color(QPalette::Dark).rgb()},
            {"yellow panel", qRgb(255, 255, 0)}};
        QCOMPARE(s.pixel(at), colours.value(seen));
    }

    void marks_and_panel_over_the_grid() {
        Shown s;
        if (!s.at_96_dpi()) QSKIP("the figures are written for 96 dpi");
        s.t.form.Led_Shp(5).set_visible(true);
        s.t.form.Status_Frame.set_visible(true);
        s.t.form.Adr_Box(2).ZOrder(); // a cell brought forward stays under the marks
        QCOMPARE(s.pixel({372, 32}), qRgb(255, 0, 0));
        QCOMPARE(s.pixel({475, 90}), QApplication::palette().color(QPalette::Button).rgb());
        s.t.form.Led_Shp(2).set_visible(true);
        QCOMPARE(s.pixel({212, 32}), qRgb(255, 0, 0));
    }

    // Each cell follows the one before it along the drawn loop: rightwards on odd rows,
    // leftwards on even ones, one row down after every sixteenth.
    void after_start_up() {
        Shown s;
        for (const char* name :
             {"Led_Shp(1)", "Led_Shp(128)", "Lgd_Lbl(0)", "Lgd_Shp(3)", "Status_Frame",
              "Adr_Status_Cde", "Cur_Adr_Lbl", "Version_Lbl", "Cc_Lbl"})
            QVERIFY2(s.find(name)->isHidden(), name);
        for (const char* lamp : {"Send_Shp", "Receive_Shp"})
            QVERIFY2(!qobject_cast<Vb_Shape*>(s.find(lamp))->lit(), lamp);
        for (const char* name :
             {"Start_Bus_Cmd", "Adr_Box(128)", "Hor_Bus_Line(8)", "Ver_Bus_Line(7)", "Emul_Frm",
              "Connection_Lbl", "Phase_Frm", "Status_Frm", "Current_Operation_Lbl"})
            QVERIFY2(s.find(name)->isVisible(), name);
        for (int n = 2; n <= 128; ++n) {
            const Control &cell = s.t.form.Adr_Box(n), &prev = s.t.form.Adr_Box(n - 1);
            const int dx = (n - 1) % 16 == 0 ? 0 : (n - 1) / 16 % 2 ? -800 : 800;
            QVERIFY2(cell.Left() - prev.Left() == dx && cell.Top() - prev.Top() == (dx ? 0 : 600),
                     QByteArray::number(n));
            QVERIFY(cell.BackColor() == 0x00C0C0C0 &&
                    cell.Caption() == QStringLiteral("%1\n???").arg(n, 3, 10, QLatin1Char('0')));
        }
    }

    // F5 and F9 work whatever control has the focus: the window sees them first.
    void keys_before_the_focused_control() {
        Shown s;
        QList<int> order; // key codes from the window, -1 from the focused control
        s.w->Key_Down = [&](Tool&, int key, int shift) { order << key + 1000 * shift; };
        struct Seen : QObject {
            QList<int>* order = nullptr;
            bool eventFilter(QObject*, QEvent* e) override {
                if (e->type() == QEvent::KeyPress) *order << -1;
                return false;
            }
        } seen;
        seen.order = &order;
        QWidget* option = s.find("Phase_Option(2)");
        option->installEventFilter(&seen);
        option->setFocus();
        QTest::keyClick(s.w->windowHandle(), Qt::Key_F5);
        QTest::keyClick(s.w->windowHandle(), Qt::Key_F9, Qt::ShiftModifier);
        QCOMPARE(order.mid(order.size() - 2), (QList<int>{1120, -1}));
        QCOMPARE(order.mid(0, 2), (QList<int>{116, -1}));
    }

    // Quit during the first pass of the loop, a tick pending: no step runs (it would turn the
    // state into 1). The close box keeps Task_State, the menu entry writes 0.
    void ending_data() {
        QTest::addColumn<bool>("close_box");
        QTest::newRow("close box") << true;
        QTest::newRow("Quitter") << false;
    }
    void ending() {
        QFETCH(bool, close_box);
        Shown s;
        s.t.state.Task_State = No_Step_State;
        s.t.state.Task_Tick = true;
        QTimer::singleShot(0, s.w.get(), [&] {
            if (close_box)
                s.w->windowHandle()->close();
            else
                s.w->action(s.t.form.Quit_Mnu)->trigger();
        });
        QTimer::singleShot(5000, s.w.get(), [&] { s.t.state.Quit_Flag = true; }); // never hang
        QElapsedTimer clock;
        clock.start();
        main_loop(s.t);
        QVERIFY(clock.elapsed() < 5000);
        QCOMPARE(s.t.state.Task_State, close_box ? No_Step_State : int16_t(0));
        QVERIFY(s.t.form.is_unloaded() && !s.t.form.Timer_Tache.isActive() && !s.w->isVisible());
    }

    // A step that waits out the 2 s reply time-out sees about twenty ticks: they leave one
    // pending tick, served at once by one step (without waiting for another event), and the next
    // step waits for a fresh tick.
    void ticksDuringLongStepCollapse() {
        Harness h;
        h.load();
        h.board.set_silent(true);
        h.t.state.Task_State = Task::Probe_Interface;
        h.t.state.Task_Tick = true;
        QElapsedTimer clock;
        clock.start();
        main_loop_pass(h.t);
        QVERIFY2(clock.elapsed() >= 1900, "the probe step did not wait for its time-out");
        QVERIFY(h.t.state.Task_Tick);
        h.t.form.Timer_Tache.stop(); // nothing else to wake the pass
        QTimer::singleShot(1000, &h.t.form, [] {});
        h.t.state.Task_State = No_Step_State;
        clock.start();
        main_loop_pass(h.t);
        QCOMPARE(h.t.state.Task_State, int16_t(Task::Probe_Interface));
        QVERIFY2(clock.elapsed() < 500, qPrintable(QString::number(clock.elapsed())));
        h.t.form.Timer_Tache.start();
        int steps = 0;
        for (clock.start(); clock.elapsed() < 350;) {
            h.t.state.Task_State = No_Step_State;
            main_loop_pass(h.t);
            steps += h.t.state.Task_State == Task::Probe_Interface;
        }
        QVERIFY2(steps >= 1 && steps <= 4, qPrintable(QString::number(steps)));
    }

    // The tick is off for the whole pause, a pause inside it included, and comes back after
    // it with a fresh count, whether it ran before or not.
    void pauseStopsTickThenRestartsIt() {
        Harness h;
        h.load();
        h.t.state.Task_Tick = false;
        bool tick_after_inner = true;
        QTimer::singleShot(50, [&] {
            Tempo_Wait(h.t, 100);
            tick_after_inner = h.t.form.Timer_Tache.isActive() || h.t.state.Task_Tick;
        });
        QElapsedTimer clock;
        clock.start();
        Tempo_Wait(h.t, 300);
        QVERIFY2(clock.elapsed() >= 300, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(!tick_after_inner && !h.t.state.Task_Tick);
        QVERIFY(h.t.form.Timer_Tache.isActive() && h.t.form.Timer_Tache.remainingTime() > 60);
        h.t.form.Timer_Tache.stop();
        Tempo_Wait(h.t, 20);
        QVERIFY(h.t.form.Timer_Tache.isActive());
    }
};

QTEST_MAIN(Tst_Window)
#include "tst_window.moc"
