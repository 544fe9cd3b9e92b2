// Processor time the tool takes while it sits connected and idle, polling the board's status
// every tick: the real executable against the real simulator, both as child processes, in runs
// alternated with runs of each floor (this program again, as --bare-loop), each measured
// from outside over the same window.
//   bench_idle_cpu [--seconds N] [--rounds R] [path/to/kalvenor [path/to/loopsim]]
// (default 10 rounds of 5 s)
//   bench_idle_cpu --bare-loop PORT [--lamp]          (a floor alone, until it is stopped)
// Where valgrind is installed, the instructions each executes per poll follow, counted by
// callgrind: the same count on a busy machine as on a quiet one.
#include "bench/figure.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSocketNotifier>
#include <QStandardPaths>
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
// lamps go dark, which a lamp lit 75 ms of each 100 ms poll cannot do without. Runs until the
// process is stopped; returns 1 when the device does not open.
int run_bare_loop(const QString& device, bool lamp_wake) {
    const int fd = ::open(device.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return 1;
    termios tio{};
    ::tcgetattr(fd, &tio);
    ::cfmakeraw(&tio);
    ::cfsetspeed(&tio, B9600);
    ::tcsetattr(fd, TCSANOW, &tio);
    QSocketNotifier in(fd, QSocketNotifier::Read);
    QObject::connect(&in, &QSocketNotifier::activated, [fd] {
        char buf[64];
        while (::read(fd, buf, sizeof buf) > 0) {
        }
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
    return QCoreApplication::exec();
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

// The status requests (0x08) of the idle state, counted in the trace a simulator writes to a
// file. Reading the trace from a pipe instead woke this program at every poll, at the very
// moment the program measured wakes for its reply, three processes at once on two cores.
class Sim_Trace {
  public:
    explicit Sim_Trace(const QString& path) : path_(path) {}
    // Status requests written since the last call.
    int new_polls() {
        static const QRegularExpression status_request(QStringLiteral("PC>\\s*(0x)?08\\b"),
                                                       QRegularExpression::CaseInsensitiveOption);
        QFile f(path_);
        if (!f.open(QIODevice::ReadOnly) || !f.seek(offset_)) return 0;
        const QByteArray text = f.readAll();
        const qsizetype whole = text.lastIndexOf('\n') + 1; // a line being written waits
        offset_ += whole;
        return int(QString::fromLatin1(text.left(whole)).count(status_request));
    }
    // Sleeps `ms`, then counts.
    int polls_within(int ms) {
        QThread::msleep(static_cast<unsigned long>(ms));
        return new_polls();
    }
    // Waits up to `ms` for the program to poll `enough` times.
    bool polling(int enough, int ms) {
        int seen = 0;
        for (int waited = 0; waited < ms && seen < enough; waited += 200)
            seen += polls_within(200);
        return seen >= enough;
    }

  private:
    QString path_;
    qint64 offset_ = 0;
};

// Starts a simulator tracing into `dir`/trace.
void start_traced_sim(QProcess& sim, const QString& path, const QString& dir) {
    sim.setStandardErrorFile(dir + "/trace");
    start_sim(sim, path, dir, "1", {"--trace"});
}

struct Idle {
    bool ok = false;
    double seconds = 0;
    double tool_share = 0; // median of the per-second shares of the program
    double mean_share = 0; // its share over the whole run
    double sim_share = 0;
    int polls = 0;
};

// Starts `program` in `dir`, against the simulator publishing `dir`/COM1 (named %PORT in
// `args`), on window system `platform` (a QT_QPA_PLATFORM value, or empty for the display of
// the environment), its output thrown away.
void start_in(QProcess& run, const QString& dir, const QString& program, QStringList args,
              const QString& platform) {
    args.replaceInStrings(QStringLiteral("%PORT"), dir + "/COM1");
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (platform.isEmpty())
        env.remove("QT_QPA_PLATFORM");
    else
        env.insert("QT_QPA_PLATFORM", platform);
    run.setProcessEnvironment(env);
    run.setWorkingDirectory(dir);
    run.setStandardOutputFile(QProcess::nullDevice());
    run.setStandardErrorFile(QProcess::nullDevice());
    run.start(program, args);
}

// A program idling against the simulator, measured from outside over the same window of
// polls whatever the program: the tool (`args` empty, its port from its settings) or a floor
// (`args` naming the port as %PORT).
Idle measure_idle(const QString& program, const QStringList& args, const QString& sim_path,
                  const QString& platform, int measure_s) {
    Idle r;
    QTemporaryDir dir;
    QProcess sim, run;
    start_traced_sim(sim, sim_path, dir.path());
    Sim_Trace trace(dir.filePath("trace"));
    start_in(run, dir.path(), program, args, platform);

    // Once it polls, two seconds more for its start-up to settle.
    if (run.waitForStarted() && trace.polling(10, 10000) && trace.polls_within(2000) > 0) {
        const double run_before = cpu_seconds(run.processId());
        const double sim_before = cpu_seconds(sim.processId());
        QElapsedTimer wall;
        wall.start();
        // Second by second as well: on a virtual machine the same program, with the same
        // wake-ups and the same instructions, now and then takes several times its usual time
        // (the host's doing, not the program's). The median second keeps a passing stall from
        // deciding the run; the share over the whole run is kept beside it.
        std::vector<double> seconds;
        double last_cpu = run_before;
        qint64 last_ms = 0;
        for (int i = 0; i < measure_s; ++i) {
            r.polls += trace.polls_within(1000);
            const double cpu = cpu_seconds(run.processId());
            const qint64 now = wall.elapsed();
            seconds.push_back(100.0 * (cpu - last_cpu) * 1000.0 / double(now - last_ms));
            last_cpu = cpu;
            last_ms = now;
        }
        r.seconds = double(wall.elapsed()) / 1000.0;
        r.mean_share = 100.0 * (last_cpu - run_before) / r.seconds;
        r.tool_share = median(seconds);
        r.sim_share = 100.0 * (cpu_seconds(sim.processId()) - sim_before) / r.seconds;
        r.ok = r.tool_share > 0;
    }
    stop(run);
    stop(sim);
    return r;
}

// Instructions a program executes per status poll once idle, counted by callgrind: unlike
// processor time, the count does not move with what else the machine is doing, nor with how
// the hypervisor schedules it, so it tells a change of the tool from a change of the weather.
// `args` may name the simulator's port as %PORT. Instrumentation starts once the program polls
// (it starts slowly under valgrind), is zeroed after a second of warming up, and the count is
// dumped 10 s later; the polls are those of the simulator's trace meanwhile.
struct Counted {
    bool ok = false;
    double per_poll = 0;
    int polls = 0;
};

Counted count_instructions(const QString& program, const QStringList& args,
                           const QString& sim_path) {
    Counted c;
    QTemporaryDir dir;
    QProcess sim, run;
    start_traced_sim(sim, sim_path, dir.path());
    Sim_Trace trace(dir.filePath("trace"));
    const QString out = dir.filePath("callgrind.out");
    start_in(run, dir.path(), "valgrind",
             QStringList{"--tool=callgrind", "--instr-atstart=no", "--callgrind-out-file=" + out,
                         program} +
                 args,
             QStringLiteral("offscreen"));
    const auto control = [&run](QStringList what) {
        QProcess p;
        p.setStandardOutputFile(QProcess::nullDevice());
        p.start("callgrind_control", what << QString::number(run.processId()));
        return p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit &&
               p.exitCode() == 0;
    };
    if (trace.polling(10, 60000) && control({"-i", "on"})) {
        trace.polls_within(1000);
        // The count's window is from the zeroing to the dump, each a moment within the call
        // of callgrind_control that asks for it (a fraction of a second); the polls are
        // counted from the end of the one to the end of the other, so 10 s keep the error
        // to a poll or two in a hundred.
        control({"-z"});
        trace.new_polls();
        QThread::msleep(10000);
        control({"-d"});
        c.polls = trace.new_polls();
        // The dump is written before callgrind_control returns; its name gains a part number.
        const QFileInfoList dumps =
            QDir(dir.path()).entryInfoList({"callgrind.out.*"}, QDir::Files, QDir::Name);
        for (const QFileInfo& dump : dumps) {
            QFile f(dump.filePath());
            if (!f.open(QIODevice::ReadOnly)) continue;
            while (!f.atEnd()) {
                const QByteArray line = f.readLine().trimmed();
                if (line.startsWith("totals:") && c.polls > 0) {
                    c.per_poll = line.mid(7).trimmed().toDouble() / c.polls;
                    c.ok = c.per_poll > 0;
                }
            }
        }
    }
    stop(run);
    stop(sim);
    return c;
}

bool have_program(const char* name) {
    return !QStandardPaths::findExecutable(QString::fromLatin1(name)).isEmpty();
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (args.value(0) == QLatin1String("--bare-loop"))
        return run_bare_loop(args.value(1), args.value(2) == QLatin1String("--lamp"));
    int measure_s = 5, rounds = 10;
    while (args.size() >= 2 &&
           (args[0] == QLatin1String("--seconds") || args[0] == QLatin1String("--rounds"))) {
        (args[0] == QLatin1String("--seconds") ? measure_s : rounds) = std::max(1, args[1].toInt());
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
    // The tool, the bare loop and the bare loop with the lamp wake-up take turns, in short runs,
    // so that other work on the machine weighs on the three alike; the ratios are taken run by
    // run, and their median and spread reported.
    const int Rounds = rounds;
    const QString self = QCoreApplication::applicationFilePath();
    const QStringList bare_args{"--bare-loop", "%PORT"};
    const QStringList lamp_args = bare_args + QStringList{"--lamp"};
    std::vector<Idle> offs;
    std::vector<double> floors, lamps, to_floor, to_lamp, lamp_to_floor, to_lamp_mean;
    for (int round = 0; round < Rounds; ++round) {
        const Idle off =
            measure_idle(tool_path, {}, sim_path, QStringLiteral("offscreen"), measure_s);
        const Idle bare = measure_idle(self, bare_args, sim_path, {}, measure_s);
        const Idle lamp = measure_idle(self, lamp_args, sim_path, {}, measure_s);
        if (!off.ok || !bare.ok || !lamp.ok) {
            std::fprintf(stderr, "bench_idle_cpu: %s did not reach the idle poll against %s\n",
                         qPrintable(!off.ok ? tool_path : self), qPrintable(sim_path));
            return 1;
        }
        std::printf("  run %d: kalvenor %.2f %%, bare loop %.2f %%, bare loop + lamp %.2f %% of a "
                    "core (median second); kalvenor / lamp floor %.3f (over the run: %.2f / %.2f "
                    "%% = %.3f)\n",
                    round + 1, off.tool_share, bare.tool_share, lamp.tool_share,
                    off.tool_share / lamp.tool_share, off.mean_share, lamp.mean_share,
                    off.mean_share / lamp.mean_share);
        std::fflush(stdout);
        offs.push_back(off);
        floors.push_back(bare.tool_share);
        lamps.push_back(lamp.tool_share);
        to_floor.push_back(off.tool_share / bare.tool_share);
        to_lamp.push_back(off.tool_share / lamp.tool_share);
        lamp_to_floor.push_back(lamp.tool_share / bare.tool_share);
        to_lamp_mean.push_back(off.mean_share / lamp.mean_share);
    }
    const Idle on_display = display ? measure_idle(tool_path, {}, sim_path, {}, measure_s) : Idle{};
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
    std::printf("  bare Qt loop    : median %.2f %% of a core, the same request every 100 ms\n",
                floor_share);
    std::printf("  bare loop + lamp: median %.2f %% of a core, the same with a 75 ms wake-up after "
                "each request\n",
                lamp_floor_share);
    std::printf("  kalvenor / bare loop + lamp: median %.3f, from %.3f to %.3f (goal <= 1.5)\n",
                median(to_lamp), lamp_lo, lamp_hi);
    std::printf("  kalvenor / bare loop       : median %.3f, from %.3f to %.3f\n", median(to_floor),
                floor_lo, floor_hi);
    print_figure(
        "idle CPU of kalvenor, offscreen (anchor: bare loop + lamp wake-up, median of the runs)",
        tool_share, "% core", lamp_floor_share, "<= 1.5", 2, median(to_lamp));
    print_figure("  spread of that ratio over the runs (max - min)", lamp_hi - lamp_lo, "ratio",
                 No_Anchor, "-", 3);
    const auto [mean_lo, mean_hi] = spread(to_lamp_mean);
    print_figure("  the same from each run's whole share instead of its median second",
                 median(to_lamp_mean), "ratio", No_Anchor, "-", 3);
    print_figure("  spread of that ratio over the runs (max - min)", mean_hi - mean_lo, "ratio",
                 No_Anchor, "-", 3);
    print_figure("idle CPU of kalvenor, offscreen (anchor: bare loop, median of the runs)",
                 tool_share, "% core", floor_share, "-", 2, median(to_floor));
    print_figure("  spread of that ratio over the runs (max - min)", floor_hi - floor_lo, "ratio",
                 No_Anchor, "-", 3);
    if (on_display.ok)
        print_figure("idle CPU of kalvenor, on the display", on_display.tool_share, "% core",
                     No_Anchor, "<= 0.5", 2);
    print_figure("idle CPU floor: bare Qt timer loop, same poll (median)", floor_share, "% core",
                 No_Anchor, "-", 2);
    print_figure("idle CPU floor + lamp wake-up (anchor: bare loop, median of the runs)",
                 lamp_floor_share, "% core", floor_share, "-", 2, median(lamp_to_floor));
    print_figure("idle status polls (anchor: one per 100 ms tick)", median(polls), "1/s", 10.0, "-",
                 2);

    if (!have_program("valgrind") || !have_program("callgrind_control")) {
        std::printf("  instructions per poll: not counted (valgrind is not installed)\n");
        return 0;
    }
    const Counted tool_count = count_instructions(tool_path, {}, sim_path);
    const Counted bare_count = count_instructions(self, bare_args, sim_path);
    const Counted lamp_count = count_instructions(self, lamp_args, sim_path);
    if (!tool_count.ok || !bare_count.ok || !lamp_count.ok) {
        std::fprintf(stderr, "bench_idle_cpu: callgrind did not count the idle polls\n");
        return 1;
    }
    std::printf("  instructions per poll (callgrind, 10 s): kalvenor %.0f over %d polls, bare "
                "loop %.0f, bare loop + lamp %.0f\n",
                tool_count.per_poll, tool_count.polls, bare_count.per_poll, lamp_count.per_poll);
    print_figure("idle instructions per poll of kalvenor, offscreen (anchor: bare loop + lamp)",
                 tool_count.per_poll / 1000, "k instr", lamp_count.per_poll / 1000, "-", 1);
    print_figure("idle instructions per poll, bare loop + lamp (anchor: bare loop)",
                 lamp_count.per_poll / 1000, "k instr", bare_count.per_poll / 1000, "-", 1);
    return 0;
}
