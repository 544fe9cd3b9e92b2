// Quitting from every kind of wait. Each case runs this executable again as the tool: the real
// start-up (Session, the Qt window offscreen, the Qt serial port) in a temporary directory, with
// the simulated board in the same process. The child brings itself into the wait, prints a
// marker line, and quits the chosen way (close box, Quit menu entry) or is sent a termination
// signal by this process. The child itself checks that nothing reached the board and no box
// opened once quitting had begun; this process checks the exit and how long it took.
#include "app/ui/main_window.h"
#include "app/ui/startup.h"
#include "link/qt_serial_port.h"
#include "model/tool.h"
#include "tools/loopsim/board.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QInputDialog>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <map>

namespace {

constexpr char Marker[] = "IN-WAIT";
constexpr char Child_Flag[] = "--quit-child";

// Fails a wait that runs to its 2 s end (reply time-out, re-arm pause), leaves the teardown of a
// sanitizer build on a busy machine its room.
constexpr qint64 Bound_Ms = 1500;

// ---- the child: the tool, driven into one wait ----

class Driver : public QObject {
  public:
    Driver(Session& s, loopsim::Board* board, QString wait, QString way)
        : s_(s), t_(s.tool()), board_(board), wait_(std::move(wait)), way_(std::move(way)) {
        QObject::connect(&t_.form, &Bus_Form::unloaded, this, [this] {
            if (quit_seen_) return;
            quit_seen_ = true;
            if (board_) rx_at_quit_ = board_->received().size();
            in_flight_at_quit_ = t_.link.link_count.in_flight;
        });
        qApp->installEventFilter(this);
        poll_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&poll_, &QTimer::timeout, this, [this] { poll(); });
        poll_.start(2);
        limit_.start();
    }

    bool reached() const { return fired_; }
    // Bytes the board took in after quitting had begun, beyond the one of an exchange then
    // under way (written before, perhaps not read yet), and boxes opened since: each named on
    // standard error.
    int late_faults() const {
        const int bytes =
            board_ && quit_seen_ ? board_->received().size() - rx_at_quit_ - in_flight_at_quit_ : 0;
        if (bytes > 0)
            std::fprintf(stderr, "FAULT: %d bytes written after quitting began\n", bytes);
        if (late_boxes_ > 0)
            std::fprintf(stderr, "FAULT: %d boxes opened after quitting began\n", late_boxes_);
        return std::max(0, bytes) + late_boxes_;
    }

  protected:
    bool eventFilter(QObject* o, QEvent* e) override {
        if (quit_seen_ && e->type() == QEvent::Show && qobject_cast<QDialog*>(o)) ++late_boxes_;
        return false;
    }

  private:
    bool idle_connected() const {
        return t_.state.Connected && t_.state.Task_State == Task::Idle_Status &&
               t_.link.bus_busy == 0;
    }

    QWidget* modal(const char* name) const {
        QWidget* m = QApplication::activeModalWidget();
        return m && m->isVisible() && m->objectName() == QLatin1String(name) ? m : nullptr;
    }

    void poll() {
        if (fired_) return;
        if (limit_.elapsed() > 15000) give_up("FAULT: the wait '%s' was never reached\n");
        if (in_wait()) fire();
    }

    // Moves from stage `from` to the next once `ready`, doing `f` from the event loop, not
    // inside this poll: a wait started inside the poll would never see the poll again.
    template <typename F> void step(int from, bool ready, F f) {
        if (stage_ != from || !ready) return;
        stage_ = from + 1;
        QMetaObject::invokeMethod(this, f, Qt::QueuedConnection);
    }

    // Moves the tool one stage on towards the wait; true once it is in it.

    bool in_wait() {
        Bus_Form& f = t_.form;
        if (wait_ == "exchange") return t_.link.link_count.in_flight > 0;
        if (wait_ == "port error") return modal("msg_box") != nullptr;
        if (wait_ == "rearm") {
            step(0, idle_connected(), [this] {
                QKeyEvent press(QEvent::KeyPress, Qt::Key_F5, Qt::NoModifier);
                QWidget* focus = s_.window().focusWidget();
                QApplication::sendEvent(focus ? focus : &s_.window(), &press);
            });
            return stage_ == 1 && t_.tempo_depth > 0;
        }
        if (wait_ == "readout pause" || wait_ == "refusal") {
            // The search would have found the type 3 detector at address 2; it takes 13 s.
            step(0, idle_connected(), [this] {
                t_.state.Adr_Type[1] = 3;
                t_.form.Adr_Box(2).click();
            });
            if (wait_ == "readout pause")
                return stage_ == 1 && t_.state.Task_State == Task::Read_Identity &&
                       t_.tempo_depth > 0;
            // Row 14, the detection mode, is the last the readout shows.
            step(1,
                 f.Param_Lbl(14).Visible() && idle_connected() && f.Opto_Check.Visible() &&
                     !t_.state.Check_Lock,
                 [this] {
                     Control& opto = t_.form.Opto_Check;
                     Control& thermo = t_.form.Thermo_Check;
                     if (opto.Value() && thermo.Value()) opto.set_value(0);
                     (opto.Value() ? opto : thermo).set_value(0);
                 });
            return stage_ == 2 && modal("msg_box") != nullptr;
        }
        if (wait_ == "port dialog" || wait_ == "port retry") {
            step(0, true, [this] { s_.window().action(t_.form.Serial_Com_Port_Mnu)->trigger(); });
            auto* input = qobject_cast<QInputDialog*>(modal("input_box"));
            if (wait_ == "port dialog") return input != nullptr;
            if (stage_ == 1 && input) {
                stage_ = 2;
                input->setTextValue(QStringLiteral("17"));
                input->accept();
            }
            return stage_ == 2 && modal("msg_box") != nullptr;
        }
        if (wait_ == "about") {
            step(0, true, [this] { s_.window().action(t_.form.About_Mnu)->trigger(); });
            return modal("frmAbout") != nullptr;
        }
        give_up("FAULT: no wait called '%s'\n");
    }

    [[noreturn]] void give_up(const char* why) {
        std::fprintf(stderr, why, qPrintable(wait_));
        std::fflush(stderr);
        std::_Exit(4);
    }

    void fire() {
        fired_ = true;
        poll_.stop();
        std::printf("%s\n", Marker);
        std::fflush(stdout);
        if (way_ == "close box")
            s_.window().close();
        else if (way_ == "quit menu")
            s_.window().action(t_.form.Quit_Mnu)->trigger();
        // Otherwise the parent sends the signal once it has read the marker.
    }

    Session& s_;
    Tool& t_;
    loopsim::Board* board_;
    const QString wait_;
    const QString way_;
    QTimer poll_;
    QElapsedTimer limit_;
    int stage_ = 0;
    bool fired_ = false;
    bool quit_seen_ = false;
    int rx_at_quit_ = 0;
    int in_flight_at_quit_ = 0;
    int late_boxes_ = 0;
};

// Timers of the form left running once the main loop has ended, each named on standard error:
// they stop with the window, and nothing may start them again.
int running_timers(Tool& t) {
    Bus_Form& f = t.form;
    const std::pair<const char*, QTimer*> timers[] = {{"Timer_Tache", &f.Timer_Tache},
                                                      {"Tempo", &f.Tempo},
                                                      {"Timer_Time_Out", &t.link.Timer_Time_Out},
                                                      {"Send_Timer", &f.Send_Timer},
                                                      {"Receive_Timer", &f.Receive_Timer}};
    int running = 0;
    for (const auto& [name, timer] : timers) {
        if (!timer->isActive()) continue;
        std::fprintf(stderr, "FAULT: %s still runs after the main loop\n", name);
        ++running;
    }
    return running;
}

int run_child(int argc, char** argv) {
    const QString wait = QString::fromLocal8Bit(argv[2]);
    const QString way = QString::fromLocal8Bit(argv[3]);
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());

    std::unique_ptr<loopsim::Board> board;
    if (wait == "port error") {
        // COM1 names a device that is gone.
        QFile::link(dir.filePath(QStringLiteral("absent")), dir.filePath(QStringLiteral("COM1")));
    } else {
        board = std::make_unique<loopsim::Board>();
        if (QString error; !board->start(dir.path(), 1, &error)) {
            std::fprintf(stderr, "FAULT: simulator: %s\n", qPrintable(error));
            return 4;
        }
        if (wait == "exchange") board->set_silent(true);
    }

    auto session = std::make_unique<Session>(make_qt_serial_port());
    Driver driver(*session, board.get(), wait, way);
    session->start();
    const int status = session->run();
    int faults = running_timers(session->tool());
    session.reset();
    // Whatever the tool wrote reaches the board on its next reads.
    QEventLoop settle;
    QTimer::singleShot(30, &settle, &QEventLoop::quit);
    settle.exec();
    faults += driver.late_faults();
    return !driver.reached() ? 4 : faults > 0 ? 3 : status;
}

// ---- the test ----

const std::map<QString, int> Signals = {
    {"SIGTERM", SIGTERM}, {"SIGINT", SIGINT}, {"SIGHUP", SIGHUP}};

// Starts the child in `wait` and returns once it has printed the marker (false if it never
// did, its standard error then in `err`).
bool start_in_wait(QProcess& child, const QString& wait, const QString& way, QByteArray* err) {
    child.start(QCoreApplication::applicationFilePath(), {Child_Flag, wait, way});
    QByteArray out;
    QElapsedTimer limit;
    limit.start();
    while (!out.contains(Marker) && child.state() != QProcess::NotRunning &&
           limit.elapsed() < 20000) {
        child.waitForReadyRead(200);
        out += child.readAllStandardOutput();
    }
    if (out.contains(Marker)) return true;
    child.kill();
    child.waitForFinished(5000);
    *err = child.readAllStandardError();
    return false;
}

void send(const QProcess& child, int sig) {
    ::kill(static_cast<pid_t>(child.processId()), sig);
}

} // namespace

class Tst_Quit : public QObject {
    Q_OBJECT
  private slots:
    void quits_from_every_wait_data();
    void quits_from_every_wait();
    void ignored_hangup_stays_ignored();
    void cleanupTestCase();

  private:
    // Waits for the child to end and checks how it ended; the time from the marker to its exit
    // is kept for the summary.
    void expect_clean_exit(QProcess& child, const QElapsedTimer& since_marker);
    QList<qint64> times_;
};

void Tst_Quit::quits_from_every_wait_data() {
    QTest::addColumn<QString>("wait");
    QTest::addColumn<QString>("way");
    // A window under a modal box ignores its close box, and its menu cannot be reached: only
    // the system can ask the program to end then.
    const QStringList open_window = {"exchange", "readout pause", "rearm"};
    const QStringList modal_box = {"port dialog", "port retry", "port error", "refusal", "about"};
    auto row = [](const QString& wait, const QString& way) {
        QTest::newRow(qPrintable(wait + " / " + way)) << wait << way;
    };
    for (const QString& wait : open_window)
        for (const char* way : {"close box", "quit menu", "SIGTERM"})
            row(wait, way);
    for (const QString& wait : modal_box)
        row(wait, "SIGTERM");
    // The other termination signals take the same road, from either side of a modal box.
    for (const char* wait : {"exchange", "about"})
        for (const char* way : {"SIGINT", "SIGHUP"})
            row(wait, way);
}

void Tst_Quit::quits_from_every_wait() {
    QFETCH(QString, wait);
    QFETCH(QString, way);

    QProcess child;
    QByteArray err;
    QVERIFY2(start_in_wait(child, wait, way, &err), err.constData());
    QElapsedTimer since_marker;
    since_marker.start();
    if (Signals.count(way)) send(child, Signals.at(way));
    expect_clean_exit(child, since_marker);
}

// Started under nohup, the tool must outlive the terminal it came from.
void Tst_Quit::ignored_hangup_stays_ignored() {
    QProcess child;
    child.setChildProcessModifier([] { ::signal(SIGHUP, SIG_IGN); });
    QByteArray err;
    QVERIFY2(start_in_wait(child, QStringLiteral("exchange"), QStringLiteral("SIGTERM"), &err),
             err.constData());
    send(child, SIGHUP);
    QVERIFY(!child.waitForFinished(300));
    QElapsedTimer since_signal;
    since_signal.start();
    send(child, SIGTERM);
    expect_clean_exit(child, since_signal);
}

void Tst_Quit::expect_clean_exit(QProcess& child, const QElapsedTimer& since_marker) {
    const bool ended = child.waitForFinished(10000);
    const qint64 ms = since_marker.elapsed();
    if (!ended) {
        child.kill();
        child.waitForFinished(5000);
    }
    const QByteArray err = child.readAllStandardError();
    QVERIFY2(ended, "still running 10 s after the marker");
    times_ << ms;
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QVERIFY2(child.exitCode() == 0, err.constData());
    for (const char* report : {"AddressSanitizer", "LeakSanitizer", "runtime error:", "FAULT:"})
        QVERIFY2(!err.contains(report), err.constData());
    QVERIFY2(ms < Bound_Ms,
             qPrintable(QStringLiteral("%1 ms from the marker to the exit").arg(ms)));
}

void Tst_Quit::cleanupTestCase() {
    if (times_.isEmpty()) return;
    std::sort(times_.begin(), times_.end());
    qInfo("marker to exit over %d runs: median %lld ms, max %lld ms", int(times_.size()),
          times_.at(times_.size() / 2), times_.last());
}

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    if (argc == 4 && qstrcmp(argv[1], Child_Flag) == 0) return run_child(argc, argv);
    QCoreApplication app(argc, argv);
    Tst_Quit test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_quit.moc"
