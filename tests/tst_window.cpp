// The main window through its real widgets (pixels at 96 dpi, what shows after start-up, keys
// seen before the focused control, the two ways out), its Qt boxes as the user meets them, the
// main loop, the task tick and the paced delay.
#include "app/shell.h"
#include "app/ui/look.h"
#include "app/ui/main_window.h"
#include "app/ui/qt_dialogs.h"
#include "app/ui/widgets.h"
#include "engine/tempo.h"
#include "support/harness.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
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
};

} // namespace

// A state without a step: Bus_Task turns it into 1 and sends nothing, so a step shows as
// Task_State going from this value to 1.
constexpr int16_t No_Step_State = 99;

class Tst_Window : public QObject {
    Q_OBJECT

  private slots:
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
        if (s.w->logicalDpiX() != 96 || s.w->logicalDpiY() != 96)
            QSKIP("the figures are written for 96 dpi");
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

    // Every caption the tool shows, in full with the fonts the scripts install: wrapped at blanks
    // only, within the area its control draws text in.
    void captions_fit_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("captions");
        const auto row = [](const char* name, const char* captions) {
            QTest::newRow(name) << QString(name) << QString::fromUtf8(captions).split('|');
        };
        row("Adr_Status_Cde", "ETAT DES ADRESSES (F9)|ARRÊT SIMULATION");
        row("Adr_Box(128)", "128\nDLX508B|128\nKTRW|128\nZEPHA|128\nMURO-S8");
        row("Current_Operation_Lbl",
            "Recherches Adresses raccordées|SIMULATION GESTION BUS PAR ECS");
        row("Cur_Adr_Lbl", "Position = 128 Type adresse = 255| 128 Adresses trouvées|18 "
                           "complètes, 1 partielle, 1 sans réponse / 20|Arrêt : 100 compl., 14 "
                           "part., 14 sans rép. / 128|100 compl., 10 part., 10 sans rép., 8 non "
                           "lus");
        row("Search_Stop_Lbl", "Recherche interrompue\nen 128 : réponse incomplète|Recherche "
                               "impossible\nréarmement : écho incorrect");
        row("Connection_Lbl", "Déconnecté|Connecté ");
        row("Lgd_Lbl(2)", "=Défaut du point");
        row("Param_Lbl(2)", "Type de moyenne|Nombre de conv.Défaut");
        row("Param_Lbl(12)", "Nombre de vérification Défaut");
        row("Value_Lbl(14)", "Optique Thermovélo|085965535");
        row("Thermo_Check", "Thermique (EN54-5)");
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
        // As designed, and scaled down to the smallest a laptop screen asks for.
        for (const double zoom : {1.0, 0.49}) {
            s.w->set_zoom(zoom);
            QRect area = w->rect();
            if (auto* b = qobject_cast<QPushButton*>(w)) {
                QStyleOptionButton o;
                o.initFrom(b);
                area = b->style()->subElementRect(QStyle::SE_PushButtonContents, &o, b);
            } else if (auto* t = qobject_cast<Option_Toggle*>(w)) {
                area = t->text_rect();
            } else if (qobject_cast<Caption_Frame*>(w)) {
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
    }

    // F5 and F9 work whatever control has the focus: the window sees them first.
    void keys_before_the_focused_control() {
        Shown s;
        QList<int> order; // key codes from the window, -1 from the focused control
        s.w->key_down = [&](Tool&, int key, int shift) { order << key + 1000 * shift; };
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

    // The About box and the boxes of the port dialog and the error messages: modal over their
    // owner, one OK button and the icon asked for, and an empty answer whichever way the input
    // box is cancelled.
    void boxes_data() {
        QTest::addColumn<int>("style"); // -1: the About box, 0: an input box preset "3"
        QTest::addColumn<int>("icon");
        QTest::addColumn<QString>("press"); // a button, Enter, or empty: the close box
        QTest::addColumn<QString>("answer");
        const auto row = [](const char* name, int style, int icon, const char* press,
                            const char* answer) {
            QTest::newRow(name) << style << icon << QString(press) << QString(answer);
        };
        row("About, FERMER", -1, 0, "FERMER", "");
        row("About, Enter", -1, 0, "Enter", "");
        row("Msg_Information", 64, QMessageBox::Information, "OK", "1");
        row("Msg_Exclamation", 48, QMessageBox::Warning, "OK", "1");
        row("input, OK", 0, 0, "OK", "3");
        row("input, Annuler", 0, 0, "Annuler", "");
        row("input, close box", 0, 0, "", "");
    }
    void boxes() {
        QFETCH(int, style);
        QFETCH(int, icon);
        QFETCH(QString, press);
        QFETCH(QString, answer);
        QWidget owner;
        auto* behind = new QPushButton(&owner);
        behind->setGeometry(10, 10, 100, 30);
        owner.show();
        QVERIFY(QTest::qWaitForWindowExposed(&owner));
        QSignalSpy behind_clicks(behind, &QPushButton::clicked);
        Qt_Dialogs dialogs;
        dialogs.set_owner(&owner);
        // Once the box is up inside the blocking call: what it shows, and whether the press closed
        // it (it is closed anyway, so that no test can hang).
        int shown_icon = 0, buttons = 0;
        bool closed = false;
        QTimer::singleShot(50, [&] {
            QWidget* box = QApplication::activeModalWidget();
            if (!box) return QApplication::closeAllWindows();
            QTest::mouseClick(owner.windowHandle(), Qt::LeftButton, {}, QPoint(50, 25));
            if (auto* message = qobject_cast<QMessageBox*>(box)) shown_icon = message->icon();
            buttons = box->findChildren<QPushButton*>().size();
            if (press == "Enter") QTest::keyClick(box->windowHandle(), Qt::Key_Return);
            if (press.isEmpty()) box->windowHandle()->close();
            for (QPushButton* b : box->findChildren<QPushButton*>())
                if (b->text() == press) QTest::mouseClick(b, Qt::LeftButton);
            closed = !box->isVisible();
            if (!closed) box->close();
        });
        const QString got = style < 0 ? (dialogs.show_about(), QString())
                            : style   ? dialogs.msg_box({}, style, {}).toString()
                                      : dialogs.input_box({}, {}, QStringLiteral("3"));
        QVERIFY(closed);
        QCOMPARE(got, answer);
        QCOMPARE(shown_icon, icon);
        if (style > 0) QCOMPARE(buttons, 1);
        QCOMPARE(behind_clicks.count(), 0);
        QTest::mouseClick(owner.windowHandle(), Qt::LeftButton, {}, QPoint(50, 25));
        QCOMPARE(behind_clicks.count(), 1);
    }

    // A blinking lamp writes itself straight into the window's store: what the screen gets
    // there is what the lamp paints, lit and dark, at any zoom, and never over what covers it.
    void lamps_in_the_window_store_data() {
        QTest::addColumn<double>("zoom");
        QTest::addColumn<bool>("covered");
        QTest::addColumn<bool>("blink_before_zoom"); // where the lamp stood must be forgotten
        QTest::newRow("as designed") << 1.0 << false << false;
        QTest::newRow("zoomed") << 1.7 << false << false;
        QTest::newRow("zoomed after a blink") << 1.7 << false << true;
        QTest::newRow("half covered") << 1.0 << true << false;
    }
    void lamps_in_the_window_store() {
        QFETCH(double, zoom);
        QFETCH(bool, covered);
        QFETCH(bool, blink_before_zoom);
        Shown s;
        auto* lamp = static_cast<Filled_Shape*>(s.find("Receive_Shp"));
        if (blink_before_zoom) {
            QTest::qWait(50);
            s.t.form.Receive_Shp.set_visible(true);
            s.t.form.Receive_Shp.set_visible(false);
        }
        s.w->set_zoom(zoom);
        QWidget cover(lamp->parentWidget());
        cover.setGeometry(lamp->geometry().adjusted(0, 0, -lamp->width() / 2, 0));
        cover.setAutoFillBackground(true);
        cover.setPalette(QColor(Qt::magenta));
        cover.setVisible(covered);
        if (covered) lamp->forget_cover(); // a widget the window does not know of
        QTest::qWait(50);
        for (const bool lit : {true, false, true}) {
            s.t.form.Receive_Shp.set_visible(lit); // no event is handled before the look
            QImage drawn = lamp->grab().toImage();
            const int r = drawn.width() / lamp->width(); // device pixels to the pixel
            const QRect at(lamp->mapTo(s.w.get(), QPoint()) * r, drawn.size());
            const QImage store = s.w->screen()->grabWindow(s.w->winId()).toImage().copy(at);
            drawn = drawn.convertToFormat(store.format());
            if (covered) drawn.fill(Qt::magenta);
            for (const QPoint p : {QPoint(1, 1), QPoint(at.width() / 2 - 1, at.height() / 2),
                                   QPoint(at.width() - 2, at.height() - 2)}) {
                if (covered && p.x() >= cover.width() * r) continue;
                QCOMPARE(store.pixel(p), drawn.pixel(p));
            }
        }
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
        set_task(s.t.state, No_Step_State);
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
        QCOMPARE(int16_t(s.t.state.Task_State), close_box ? No_Step_State : int16_t(0));
        QVERIFY(s.t.form.is_unloaded() && !s.t.form.Timer_Tache.isActive() && !s.w->isVisible());
    }

    // A step that waits out the 2 s reply time-out sees about twenty ticks: they leave one
    // pending tick, served at once by one step (without waiting for another event), and the next
    // step waits for a fresh tick.
    void ticks_during_a_long_step_collapse() {
        Harness h;
        h.load();
        h.board.set_silent(true);
        set_task(h.t.state, Task::Probe_Interface);
        h.t.state.Task_Tick = true;
        QElapsedTimer clock;
        clock.start();
        main_loop_pass(h.t);
        QVERIFY2(clock.elapsed() >= 1900, "the probe step did not wait for its time-out");
        QVERIFY(h.t.state.Task_Tick);
        h.t.form.Timer_Tache.stop(); // nothing else to wake the pass
        QTimer::singleShot(1000, &h.t.form, [] {});
        set_task(h.t.state, No_Step_State);
        clock.start();
        main_loop_pass(h.t);
        QCOMPARE(int16_t(h.t.state.Task_State), int16_t(Task::Probe_Interface));
        QVERIFY2(clock.elapsed() < 500, qPrintable(QString::number(clock.elapsed())));
        h.t.form.Timer_Tache.start();
        int steps = 0;
        for (clock.start(); clock.elapsed() < 350;) {
            set_task(h.t.state, No_Step_State);
            main_loop_pass(h.t);
            steps += h.t.state.Task_State == Task::Probe_Interface;
        }
        QVERIFY2(steps >= 1 && steps <= 4, qPrintable(QString::number(steps)));
    }

    // The tick is off for the whole pause, a pause inside it included, and comes back after
    // it with a fresh count, whether it ran before or not.
    void a_pause_stops_the_tick_then_restarts_it() {
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
