// Processor time the tool takes while it sits connected and idle, polling the board's status
// every tick: the real executable against the real simulator, both as child processes, in five
// runs alternated with five of each floor.
//   bench_idle_cpu [--seconds N] [path/to/kalvenor [path/to/loopsim]]     (default 10 s)
#include "bench/figure.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

// Processor time of a process, in seconds: the scheduler's nanosecond count summed over its
// threads, since utime + stime only move in 10 ms steps, too coarse for a share under 0.5 %
// over a few seconds. utime + stime where the kernel keeps no scheduler statistics.
double cpu_seconds(qint64 pid) {
    const QString proc = QStringLiteral("/proc/%1").arg(pid);
    double ns = 0;
    bool any = false;
    for (const QString& task : QDir(proc + "/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile f(proc + "/task/" + task + "/schedstat");
        if (!f.open(QIODevice::ReadOnly)) continue;
        ns += f.readAll().split(' ').value(0).toDouble();
        any = true;
    }
    if (any) return ns / 1e9;
    QFile f(proc + "/stat");
    if (!f.open(QIODevice::ReadOnly)) return -1;
    const QByteArray line = f.readAll();
    // The command name may hold blanks; the fields after it are fixed.
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    return fields.size() < 13 ? -1
                              : double(fields[11].toLongLong() + fields[12].toLongLong()) /
                                    double(::sysconf(_SC_CLK_TCK));
}

// The least a Qt program spends on the same duty on this machine: a 100 ms timer that sends
// the status request to a simulator and reads its answer, and nothing else. With `lamp_wake`,
// each request also starts a 75 ms timer that does nothing: the wake-up in which the tool's
// lamps go dark, which a lamp lit 75 ms of each 100 ms poll cannot do without. Returns the
// share of a core, or -1 when the device does not open.
double bare_loop_share(const QString& device, int ms, bool lamp_wake, int& answers) {
    const int fd = ::open(device.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return -1;
    termios tio{};
    ::tcgetattr(fd, &tio);
    ::cfmakeraw(&tio);
    ::cfsetspeed(&tio, B9600);
    ::tcsetattr(fd, TCSANOW, &tio);
    QSocketNotifier in(fd, QSocketNotifier::Read);
    QObject::connect(&in, &QSocketNotifier::activated, [fd, &answers] {
        char buf[64];
        ssize_t n;
        while ((n = ::read(fd, buf, sizeof buf)) > 0)
            answers += int(n);
    });
    QTimer lamps_dark;
    lamps_dark.setSingleShot(true);
    lamps_dark.setInterval(75);
    QObject::connect(&lamps_dark, &QTimer::timeout, [] {});
    QTimer tick;
    tick.setInterval(100);
    QObject::connect(&tick, &QTimer::timeout, [fd, lamp_wake, &lamps_dark] {
        const char status = 0x08;
        if (::write(fd, &status, 1) != 1) return;
        if (lamp_wake) lamps_dark.start();
    });
    tick.start();
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    const qint64 self = QCoreApplication::applicationPid();
    const double before = cpu_seconds(self);
    loop.exec();
    const double used = cpu_seconds(self) - before;
    ::close(fd);
    return 100.0 * used / (ms / 1000.0);
}

// Starts the simulator publishing COM<com> in `dir` and waits for the link to appear.
void start_sim(QProcess& sim, const QString& path, const QString& dir, const char* com,
               const QStringList& extra = {}) {
    sim.setWorkingDirectory(dir);
    sim.setStandardOutputFile(QProcess::nullDevice());
    sim.start(path, QStringList{"--dir", dir, "--com", com} + extra);
    sim.waitForStarted();
    for (int i = 0; i < 100 && !QFileInfo(dir + "/COM" + com).isSymLink(); ++i)
        QThread::msleep(50);
}

void stop(QProcess& p) {
    p.terminate();
    if (!p.waitForFinished(3000)) p.kill();
    p.waitForFinished();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n == 0 ? 0 : n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

struct Idle {
    bool ok = false;
    double seconds = 0, tool_share = 0, sim_share = 0;
    int polls = 0;
};

// The tool idling against the simulator on one window system: `platform` is a
// QT_QPA_PLATFORM value, or empty for the display of the environment.
Idle measure_idle(const QString& tool_path, const QString& sim_path, const QString& platform,
                  int measure_s) {
    Idle r;
    QTemporaryDir dir;
    QProcess sim, tool;
    sim.setReadChannel(QProcess::StandardError);
    start_sim(sim, sim_path, dir.path(), "1", {"--trace"});
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (platform.isEmpty())
        env.remove("QT_QPA_PLATFORM");
    else
        env.insert("QT_QPA_PLATFORM", platform);
    tool.setProcessEnvironment(env);
    tool.setWorkingDirectory(dir.path());
    tool.setStandardOutputFile(QProcess::nullDevice());
    tool.setStandardErrorFile(QProcess::nullDevice());
    tool.start(tool_path, {});

    // The simulator's trace shows the status requests (0x08) of the idle state; reading it all
    // the time also keeps its pipe from filling up.
    static const QRegularExpression status_request(QStringLiteral("PC>\\s*(0x)?08\\b"),
                                                   QRegularExpression::CaseInsensitiveOption);
    const auto polls_within = [&](int ms) {
        QElapsedTimer e;
        e.start();
        QString trace;
        while (e.elapsed() < ms && sim.state() == QProcess::Running) {
            sim.waitForReadyRead(100);
            trace += QString::fromLatin1(sim.readAllStandardError());
        }
        return int(trace.count(status_request));
    };
    if (tool.waitForStarted() && polls_within(3000) >= 10) {
        const double tool_before = cpu_seconds(tool.processId());
        const double sim_before = cpu_seconds(sim.processId());
        QElapsedTimer wall;
        wall.start();
        r.polls = polls_within(measure_s * 1000);
        r.seconds = double(wall.elapsed()) / 1000.0;
        r.tool_share = 100.0 * (cpu_seconds(tool.processId()) - tool_before) / r.seconds;
        r.sim_share = 100.0 * (cpu_seconds(sim.processId()) - sim_before) / r.seconds;
        r.ok = true;
    }
    stop(tool);
    stop(sim);
    return r;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    int measure_s = 10;
    if (args.size() >= 2 && args[0] == QLatin1String("--seconds")) {
        measure_s = std::max(1, args[1].toInt());
        args = args.mid(2);
    }
    const QString build = QCoreApplication::applicationDirPath() + "/../";
    const QString tool_path = QFileInfo(args.value(0, build + "kalvenor")).absoluteFilePath();
    const QString sim_path = QFileInfo(args.value(1, build + "loopsim")).absoluteFilePath();

    // Offscreen always; on the display too when there is one, where every lamp change goes to
    // the window system.
    const QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    const bool display = !env.contains("QT_QPA_PLATFORM") &&
                         (env.contains("DISPLAY") || env.contains("WAYLAND_DISPLAY"));
    // The tool, the bare loop and the bare loop with the lamp wake-up take turns, five runs each,
    // so that other work on the machine weighs on the three alike; the ratios are taken run by
    // run, and their median and spread reported.
    constexpr int Rounds = 5;
    QTemporaryDir dir;
    QProcess quiet_sim;
    quiet_sim.setStandardErrorFile(QProcess::nullDevice());
    start_sim(quiet_sim, sim_path, dir.path(), "2");
    std::vector<Idle> offs;
    std::vector<double> floors, lamps, to_floor, to_lamp, lamp_to_floor;
    int floor_answers = 0, lamp_answers = 0;
    for (int round = 0; round < Rounds; ++round) {
        const Idle off = measure_idle(tool_path, sim_path, QStringLiteral("offscreen"), measure_s);
        if (!off.ok) {
            std::fprintf(stderr, "bench_idle_cpu: %s did not reach the idle poll against %s\n",
                         qPrintable(tool_path), qPrintable(sim_path));
            return 1;
        }
        const double floor_share =
            bare_loop_share(dir.filePath("COM2"), measure_s * 1000, false, floor_answers);
        const double lamp_share =
            bare_loop_share(dir.filePath("COM2"), measure_s * 1000, true, lamp_answers);
        std::printf("  run %d: kalvenor %.2f %%, bare loop %.2f %%, bare loop + lamp %.2f %% of a "
                    "core; kalvenor / lamp floor %.3f\n",
                    round + 1, off.tool_share, floor_share, lamp_share,
                    off.tool_share / lamp_share);
        std::fflush(stdout);
        offs.push_back(off);
        floors.push_back(floor_share);
        lamps.push_back(lamp_share);
        to_floor.push_back(off.tool_share / floor_share);
        to_lamp.push_back(off.tool_share / lamp_share);
        lamp_to_floor.push_back(lamp_share / floor_share);
    }
    stop(quiet_sim);
    const Idle on_display = display ? measure_idle(tool_path, sim_path, {}, measure_s) : Idle{};
    if (display && !on_display.ok) {
        std::fprintf(stderr, "bench_idle_cpu: %s did not reach the idle poll on the display\n",
                     qPrintable(tool_path));
        return 1;
    }
    std::vector<double> tool_shares, polls;
    for (const Idle& r : offs) {
        tool_shares.push_back(r.tool_share);
        polls.push_back(r.polls / r.seconds);
    }
    const auto spread = [](const std::vector<double>& v) {
        const auto [lo, hi] = std::minmax_element(v.begin(), v.end());
        return std::pair{*lo, *hi};
    };
    const double tool_share = median(tool_shares), floor_share = median(floors),
                 lamp_floor_share = median(lamps);
    const auto [lamp_lo, lamp_hi] = spread(to_lamp);
    const auto [floor_lo, floor_hi] = spread(to_floor);

    std::printf("bench_idle_cpu: %s idling against %s, %d runs of %d s of each, alternated\n",
                qPrintable(tool_path), qPrintable(sim_path), Rounds, measure_s);
    std::printf("  kalvenor offscreen: median %.2f %% of a core, %.1f status requests/s\n",
                tool_share, median(polls));
    if (on_display.ok)
        std::printf(
            "  display  : %.2f %% of a core, loopsim %.2f %%, %d status requests (%.1f/s)\n",
            on_display.tool_share, on_display.sim_share, on_display.polls,
            on_display.polls / on_display.seconds);
    std::printf(
        "  bare Qt loop    : median %.2f %% of a core, the same request every 100 ms, %d answers\n",
        floor_share, floor_answers);
    std::printf("  bare loop + lamp: median %.2f %% of a core, the same with a 75 ms wake-up after "
                "each request, %d answers\n",
                lamp_floor_share, lamp_answers);
    std::printf("  kalvenor / bare loop + lamp: median %.3f, from %.3f to %.3f (goal <= 1.5)\n",
                median(to_lamp), lamp_lo, lamp_hi);
    std::printf("  kalvenor / bare loop       : median %.3f, from %.3f to %.3f\n", median(to_floor),
                floor_lo, floor_hi);
    print_figure("idle CPU of kalvenor, offscreen (anchor: bare loop + lamp wake-up, median of 5)",
                 tool_share, "% core", lamp_floor_share, "<= 1.5", 2, median(to_lamp));
    print_figure("  spread of that ratio over the 5 runs (max - min)", lamp_hi - lamp_lo, "ratio",
                 No_Anchor, "-", 3);
    print_figure("idle CPU of kalvenor, offscreen (anchor: bare loop, median of 5)", tool_share,
                 "% core", floor_share, "-", 2, median(to_floor));
    print_figure("  spread of that ratio over the 5 runs (max - min)", floor_hi - floor_lo, "ratio",
                 No_Anchor, "-", 3);
    if (on_display.ok)
        print_figure("idle CPU of kalvenor, on the display", on_display.tool_share, "% core",
                     No_Anchor, "<= 0.5", 2);
    print_figure("idle CPU floor: bare Qt timer loop, same poll (median)", floor_share, "% core",
                 No_Anchor, "-", 2);
    print_figure("idle CPU floor + lamp wake-up (anchor: bare loop, median of 5)", lamp_floor_share,
                 "% core", floor_share, "-", 2, median(lamp_to_floor));
    print_figure("idle status polls (anchor: one per 100 ms tick)", median(polls), "1/s", 10.0, "-",
                 2);
    return 0;
}
