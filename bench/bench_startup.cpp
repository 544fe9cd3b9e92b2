// Start-up of the tool: from process start to the first expose and paint of the main window,
// and the peak memory of the process. Each run is a fresh process (the figures are those of a
// cold start of the program, not of a warm library); the parent prints median and spread.
//
//   bench_startup [runs]        runs the measuring child `runs` times (default 7)
//
// Run it under the platform to measure: QT_QPA_PLATFORM=offscreen, or a display (Xvfb).
// Goals: window shown in under 300 ms, peak memory under 60 MB.
#include "app/shell.h"
#include "app/tool.h"
#include "app/ui/main_window.h"
#include "app/ui/startup.h"
#include "link/qt_serial_port.h"
#include "tools/loopsim/board.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <map>
#include <sstream>
#include <sys/resource.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

double ms_since(Clock::time_point t) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

// Milliseconds from the kernel's record of the process start to now (10 ms resolution: the
// start time is kept in clock ticks).
double ms_since_process_start() {
    std::ifstream stat("/proc/self/stat");
    std::string all((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const auto close = all.rfind(')');
    if (close == std::string::npos) return -1;
    std::istringstream rest(all.substr(close + 2));
    std::string field;
    // Fields after the command name start at 3 (state); the start time is field 22.
    for (int i = 3; i < 22; ++i)
        rest >> field;
    unsigned long long start_ticks = 0;
    rest >> start_ticks;
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    const double now_ms = now.tv_sec * 1000.0 + now.tv_nsec / 1e6;
    return now_ms - start_ticks * 1000.0 / double(sysconf(_SC_CLK_TCK));
}

long peak_rss_kb() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

// Notes the first expose of a window and the first paint of the main window's client.
class First_Frame : public QObject {
  public:
    QWidget* client = nullptr;
    double exposed_ms = -1, painted_ms = -1;
    double exposed_since_process = -1;
    Clock::time_point origin;

    bool eventFilter(QObject* o, QEvent* e) override {
        if (e->type() == QEvent::Expose && exposed_ms < 0) {
            auto* w = qobject_cast<QWindow*>(o);
            if (w && w->isExposed()) {
                exposed_ms = ms_since(origin);
                exposed_since_process = ms_since_process_start();
            }
        } else if (e->type() == QEvent::Paint && painted_ms < 0 && o == client) {
            painted_ms = ms_since(origin);
        }
        return false;
    }
};

int child(int argc, char** argv, Clock::time_point main_entry) {
    const double process_to_main = ms_since_process_start() - ms_since(main_entry);
    QApplication app(argc, argv);
    const double app_ready = ms_since(main_entry);

    // The simulated board is the bench's own furniture: its start is timed and left out.
    const Clock::time_point board_begin = Clock::now();
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    loopsim::Board board;
    QString error;
    if (!board.start(dir.path(), 1, &error)) {
        std::fprintf(stderr, "simulator: %s\n", qPrintable(error));
        return 1;
    }
    const double board_ms = ms_since(board_begin);

    First_Frame frame;
    frame.origin = main_entry;
    app.installEventFilter(&frame);

    const Clock::time_point start_begin = Clock::now();
    Session session(make_qt_serial_port());
    const double session_made = ms_since(start_begin);
    session.Start();
    const double started = ms_since(start_begin);
    frame.client = session.window().client();
    QElapsedTimer limit;
    limit.start();
    while ((frame.exposed_ms < 0 || frame.painted_ms < 0) && limit.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    const long rss_shown = peak_rss_kb();

    // Then until the board shows as connected, through the tool's own main loop.
    Tool& t = session.tool();
    double connected_ms = -1;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (t.S.Connected && connected_ms < 0) connected_ms = ms_since(main_entry);
        if (connected_ms >= 0 || limit.elapsed() > 8000) session.window().close();
    });
    watch.start(5);
    session.Run();
    const long rss_end = peak_rss_kb();

    // Leave the simulator's start out of the figures that span it.
    auto without_board = [board_ms](double ms) { return ms < 0 ? ms : ms - board_ms; };

    std::printf("process_to_main=%.1f app_ready=%.1f board=%.1f session=%.1f start=%.1f "
                "exposed=%.1f painted=%.1f exposed_since_process=%.1f connected=%.1f "
                "rss_shown_kb=%ld rss_end_kb=%ld dpi=%d platform=%s\n",
                process_to_main, app_ready, board_ms, session_made, started,
                without_board(frame.exposed_ms), without_board(frame.painted_ms),
                without_board(frame.exposed_since_process), without_board(connected_ms), rss_shown,
                rss_end, session.window().logicalDpiX(),
                qPrintable(QGuiApplication::platformName()));
    return 0;
}

std::map<std::string, std::string> parse(const QString& line) {
    std::map<std::string, std::string> out;
    for (const QString& kv : line.trimmed().split(' ', Qt::SkipEmptyParts)) {
        const int eq = kv.indexOf('=');
        if (eq > 0) out[kv.left(eq).toStdString()] = kv.mid(eq + 1).toStdString();
    }
    return out;
}

int parent(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, QString(argv[1]).toInt()) : 7;
    std::vector<std::map<std::string, std::string>> results;
    for (int i = 0; i < runs; ++i) {
        QProcess p;
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--child")});
        if (!p.waitForFinished(30000) || p.exitCode() != 0) {
            std::fprintf(stderr, "run %d failed\n", i + 1);
            return 1;
        }
        const QString out = QString::fromLocal8Bit(p.readAllStandardOutput());
        results.push_back(parse(out.split('\n').filter(QStringLiteral("exposed=")).value(0)));
    }

    const auto& first = results.front();
    std::printf("start-up of kalvenor, %d fresh processes, platform %s, %s dpi\n", runs,
                first.count("platform") ? first.at("platform").c_str() : "?",
                first.count("dpi") ? first.at("dpi").c_str() : "?");
    std::printf("%-46s %9s %9s %9s\n", "figure", "median", "min", "max");
    const std::pair<const char*, const char*> figures[] = {
        {"process_to_main", "process start -> main() (ms, 10 ms grain)"},
        {"app_ready", "main() -> QApplication ready (ms)"},
        {"session", "Tool and dialogs made (ms)"},
        {"start", "Form_Load + window built + shown (ms)"},
        {"exposed", "main() -> first expose (ms)"},
        {"painted", "main() -> first paint of the client (ms)"},
        {"exposed_since_process", "process start -> first expose (ms)"},
        {"board", "[simulator start, not counted] (ms)"},
        {"connected", "main() -> board shown connected (ms)"},
        {"rss_shown_kb", "peak RSS when shown (MB)"},
        {"rss_end_kb", "peak RSS at the end (MB)"},
    };
    for (const auto& [key, label] : figures) {
        std::vector<double> v;
        for (const auto& r : results)
            if (r.count(key)) v.push_back(std::stod(r.at(key)));
        if (v.empty()) continue;
        std::sort(v.begin(), v.end());
        const double scale = QString(key).endsWith("_kb") ? 1.0 / 1024 : 1.0;
        std::printf("%-46s %9.1f %9.1f %9.1f\n", label, v[v.size() / 2] * scale, v.front() * scale,
                    v.back() * scale);
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const Clock::time_point main_entry = Clock::now();
    if (argc > 1 && QString(argv[1]) == QLatin1String("--child"))
        return child(argc, argv, main_entry);
    return parent(argc, argv);
}
