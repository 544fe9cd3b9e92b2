// Quitting from every kind of wait. Each case runs this executable again as the tool: the real
// start-up (Session, the Qt window offscreen, the Qt serial port) in a temporary directory, with
// the simulated board in the same process. The child brings itself into the wait, prints a
// marker line, and quits the chosen way (close box, Quit menu entry) or is sent a termination
// signal by this process. The child itself checks that nothing reached the board, no box opened
// and no timer ran once quitting had begun; this process checks the exit and how long it took.
#include "app/ui/main_window.h"
#include "app/ui/startup.h"
#include "link/qt_serial_port.h"
#include "model/tool.h"
#include "tools/loopsim/board.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QInputDialog>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <csignal>
#include <cstdio>

namespace {

constexpr char Marker[] = "IN-WAIT";
constexpr char Child_Flag[] = "--quit-child";

// Fails a wait that runs to its 2 s end (reply time-out, re-arm pause), leaves the teardown of a
// sanitizer build on a busy machine its room.
constexpr qint64 Bound_Ms = 1500;

// ---- the child: the tool, driven into one wait ----

// A wait is reached through steps, each done from the event loop once its condition holds (a
// wait started inside the poll would never see the poll again); then `in_it` says the tool is
// in the wait.
using Check = std::function<bool()>;
struct Step {
    Check ready;
    std::function<void()> act;
};
struct Wait {
    QList<Step> steps;
    Check in_it;
};

Check modal(const char* name) {
    return [name] {
        QWidget* m = QApplication::activeModalWidget();
        return m && m->isVisible() && m->objectName() == QLatin1String(name);
    };
}

Wait wait_called(const QString& name, Session& s) {
    Tool& t = s.tool();
    Bus_Form& f = t.form;
    const Check idle = [&t] {
        return t.state.Connected && t.state.Task_State == Task::Idle_Status &&
               t.link.steps_holding() == 0;
    };
    const auto menu = [&s](Control& c) {
        return Step{[] { return true; }, [&s, &c] { s.window().action(c)->trigger(); }};
    };
    // The search would have found the type 3 detector at address 2; it takes 13 s.
    const Step read_cell_2{idle, [&t] {
                               t.state.Adr_Type[1] = 3;
                               t.form.Adr_Box(2).click();
                           }};
    if (name == "exchange") return {{}, [&t] { return t.link.link_count().in_flight > 0; }};
    if (name == "port error") return {{}, modal("msg_box")};
    if (name == "rearm")
        return {{{idle, [&s] { QTest::keyClick(s.window().windowHandle(), Qt::Key_F5); }}},
                [&t] { return t.tempo.pausing(); }};
    if (name == "readout pause")
        return {{read_cell_2},
                [&t] { return t.state.Task_State == Task::Read_Identity && t.tempo.pausing(); }};
    if (name == "refusal") {
        // Row 14, the detection mode, is the last the readout shows. Both modes cleared: the
        // clearing that would leave none is refused.
        const Check shown = [&t, &f, idle] {
            return f.Param_Lbl(14).Visible() && idle() && f.Opto_Check.Visible() &&
                   !t.state.Check_Lock;
        };
        const Step no_mode{shown, [&f] {
                               f.Opto_Check.set_value(0);
                               f.Thermo_Check.set_value(0);
                           }};
        return {{read_cell_2, no_mode}, modal("msg_box")};
    }
    if (name == "port dialog") return {{menu(f.Serial_Com_Port_Mnu)}, modal("input_box")};
    if (name == "port retry") {
        const Step port_17{modal("input_box"), [] {
                               auto* input =
                                   static_cast<QInputDialog*>(QApplication::activeModalWidget());
                               input->setTextValue(QStringLiteral("17"));
                               input->accept();
                           }};
        return {{menu(f.Serial_Com_Port_Mnu), port_17}, modal("msg_box")};
    }
    if (name == "about") return {{menu(f.About_Mnu)}, modal("frmAbout")};
    qFatal("no wait called %s", qPrintable(name));
}

// Counts the boxes that open once quitting has begun.
struct Box_Watch : QObject {
    bool quitting = false;
    int late = 0;
    bool eventFilter(QObject* o, QEvent* e) override {
        late += quitting && e->type() == QEvent::Show && qobject_cast<QDialog*>(o);
        return false;
    }
};

// Names a fault on standard error, where the parent looks; returns how many there were.
int faults(int count, const char* what) {
    if (count > 0) std::fprintf(stderr, "FAULT: %d %s\n", count, what);
    return std::max(count, 0);
}

int run_child(int argc, char** argv) {
    const QString wait = argv[2], way = argv[3];
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    loopsim::Board board;
    if (wait == "port error") // COM1 names a device that is gone.
        QFile::link(dir.filePath(QStringLiteral("absent")), dir.filePath(QStringLiteral("COM1")));
    else if (QString error; !board.start(dir.path(), 1, &error))
        qFatal("simulator: %s", qPrintable(error));
    board.set_silent(wait == "exchange");

    auto session = std::make_unique<Session>(make_qt_serial_port());
    Tool& t = session->tool();
    const Wait w = wait_called(wait, *session);
    Box_Watch boxes;
    app.installEventFilter(&boxes);
    // What the board took in when quitting began, and the byte of an exchange then under way
    // (written before, perhaps not read yet).
    int rx_at_quit = 0;
    QObject::connect(&t.form, &Bus_Form::unloaded, [&] {
        if (!std::exchange(boxes.quitting, true))
            rx_at_quit = board.received().size() + t.link.link_count().in_flight;
    });
    QTimer poll;
    int step = 0;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (step < w.steps.size()) {
            if (w.steps[step].ready())
                QMetaObject::invokeMethod(&poll, w.steps[step++].act, Qt::QueuedConnection);
            return;
        }
        if (!w.in_it()) return;
        poll.stop();
        std::printf("%s\n", Marker);
        std::fflush(stdout);
        if (way == "close box") session->window().close();
        if (way == "quit menu") session->window().action(t.form.Quit_Mnu)->trigger();
        // Otherwise the parent sends a signal once it has read the marker.
    });
    poll.start(2);
    session->start();
    const int status = session->run();
    // The timers stop with the window, and nothing may start them again.
    int running = 0;
    for (const QTimer* timer : std::initializer_list<const QTimer*>{
             &t.form.Timer_Tache, &t.form.Tempo, &t.link.reply_timer(), &t.form.Send_Timer,
             &t.form.Receive_Timer})
        running += timer->isActive();
    int found = faults(running, "timers still run after the main loop");
    session.reset();
    // Whatever the tool wrote reaches the board on its next reads.
    QTest::qWait(30);
    found += faults(boxes.late, "boxes opened after quitting began");
    found += faults(boxes.quitting ? board.received().size() - rx_at_quit : 0,
                    "bytes written after quitting began");
    return found > 0 ? 3 : status;
}

} // namespace

// ---- the test ----

class Tst_Quit : public QObject {
    Q_OBJECT
  private slots:
    void quits_from_every_wait_data() {
        QTest::addColumn<QString>("wait");
        QTest::addColumn<QString>("way");
        auto row = [](const QString& wait, const QString& way) {
            QTest::newRow(qPrintable(wait + " / " + way)) << wait << way;
        };
        for (const char* wait : {"exchange", "readout pause", "rearm"})
            for (const char* way : {"close box", "quit menu", "SIGTERM"})
                row(wait, way);
        // A window under a modal box ignores its close box, and its menu cannot be reached: only
        // the system can ask the program to end then.
        for (const char* wait : {"port dialog", "port retry", "port error", "refusal", "about"})
            row(wait, "SIGTERM");
        // The other termination signals take the same road, from either side of a modal box.
        for (const char* wait : {"exchange", "about"})
            for (const char* way : {"SIGINT", "SIGHUP"})
                row(wait, way);
        // Started under nohup, the tool must outlive the terminal it came from.
        row("exchange", "SIGHUP ignored, SIGTERM");
    }

    void quits_from_every_wait() {
        QFETCH(QString, wait);
        QFETCH(QString, way);
        QProcess child;
        const bool nohup = way.startsWith("SIGHUP ignored");
        if (nohup) child.setChildProcessModifier([] { ::signal(SIGHUP, SIG_IGN); });
        child.start(QCoreApplication::applicationFilePath(), {Child_Flag, wait, way});
        QByteArray out;
        while (!out.contains(Marker) && child.waitForReadyRead(20000))
            out += child.readAllStandardOutput();
        QVERIFY2(out.contains(Marker), "wait never reached: " + child.readAllStandardError());
        const auto send = [&child](int sig) { ::kill(pid_t(child.processId()), sig); };
        if (nohup) {
            send(SIGHUP);
            QVERIFY(!child.waitForFinished(300));
        }
        QElapsedTimer since;
        since.start();
        // The last word of a way that is a signal names it.
        const QMap<QString, int> signal_named{
            {"SIGTERM", SIGTERM}, {"SIGINT", SIGINT}, {"SIGHUP", SIGHUP}};
        if (const int sig = signal_named.value(way.section(' ', -1))) send(sig);
        const bool ended = child.waitForFinished(10000);
        const qint64 ms = since.elapsed();
        const QByteArray err = child.readAllStandardError();
        QVERIFY2(ended, "still running 10 s after the marker");
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QVERIFY2(child.exitCode() == 0, err.constData());
        for (const char* report : {"AddressSanitizer", "LeakSanitizer", "runtime error:", "FAULT:"})
            QVERIFY2(!err.contains(report), err.constData());
        QVERIFY2(ms < Bound_Ms, QByteArray::number(ms) + " ms from the marker to the exit");
    }
};

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    if (argc == 4 && qstrcmp(argv[1], Child_Flag) == 0) return run_child(argc, argv);
    QCoreApplication app(argc, argv);
    Tst_Quit test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_quit.moc"
