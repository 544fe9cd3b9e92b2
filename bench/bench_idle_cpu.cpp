// Processor time the tool takes while it sits connected and idle, polling the board's status
// every tick: the real executable against the real simulator, both as child processes.
//
//   bench_idle_cpu [path/to/kalvenor [path/to/loopsim]]
// Without arguments both are taken from the build tree this benchmark belongs to.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <unistd.h>

namespace {

constexpr int Measure_Ms = 10000;

// utime + stime of a process, in seconds.
double cpu_seconds(qint64 pid) {
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly)) return -1;
    const QByteArray line = f.readAll();
    // The command name may hold blanks; the fields after it are fixed.
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13) return -1;
    const double ticks = double(fields[11].toLongLong() + fields[12].toLongLong());
    return ticks / double(::sysconf(_SC_CLK_TCK));
}

void pump(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

bool pump_until(const std::function<bool()>& pred, int ms) {
    QElapsedTimer e;
    e.start();
    while (!pred() && e.elapsed() < ms)
        pump(20);
    return pred();
}

void stop(QProcess& p) {
    if (p.state() == QProcess::NotRunning) return;
    p.terminate();
    if (!p.waitForFinished(3000)) {
        p.kill();
        p.waitForFinished(3000);
    }
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QString build = QCoreApplication::applicationDirPath() + QStringLiteral("/..");
    const QString tool_path =
        QFileInfo(argc > 1 ? QString::fromLocal8Bit(argv[1]) : build + "/kalvenor")
            .absoluteFilePath();
    const QString sim_path =
        QFileInfo(argc > 2 ? QString::fromLocal8Bit(argv[2]) : build + "/loopsim")
            .absoluteFilePath();
    for (const QString& p : {tool_path, sim_path}) {
        if (!QFileInfo(p).isExecutable()) {
            std::fprintf(stderr, "bench_idle_cpu: %s is not built\n", qPrintable(p));
            return 1;
        }
    }

    QTemporaryDir dir;
    QProcess sim;
    QByteArray trace;
    QObject::connect(&sim, &QProcess::readyReadStandardError, &sim,
                     [&] { trace += sim.readAllStandardError(); });
    sim.setWorkingDirectory(dir.path());
    sim.setStandardOutputFile(QProcess::nullDevice());
    sim.start(sim_path, {"--dir", dir.path(), "--com", "1", "--trace"});
    if (!sim.waitForStarted(5000) ||
        !pump_until([&] { return QFileInfo(dir.filePath("COM1")).isSymLink(); }, 5000)) {
        std::fprintf(stderr, "bench_idle_cpu: the simulator did not publish COM1\n");
        stop(sim);
        return 1;
    }

    QProcess tool;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    tool.setProcessEnvironment(env);
    tool.setWorkingDirectory(dir.path());
    tool.setStandardOutputFile(QProcess::nullDevice());
    tool.setStandardErrorFile(QProcess::nullDevice());
    tool.start(tool_path, {});

    // Idle means status requests (0x08) on the line; a second of them to be sure it settled.
    static const QRegularExpression status_request(QStringLiteral("PC>\\s*(0x)?08\\b"),
                                                   QRegularExpression::CaseInsensitiveOption);
    auto polls = [&] { return int(QString::fromLatin1(trace).count(status_request)); };
    if (!tool.waitForStarted(5000) || !pump_until([&] { return polls() >= 10; }, 10000)) {
        std::fprintf(stderr, "bench_idle_cpu: the tool did not reach the idle poll\n");
        stop(tool);
        stop(sim);
        return 1;
    }

    trace.clear();
    const double tool_before = cpu_seconds(tool.processId());
    const double sim_before = cpu_seconds(sim.processId());
    QElapsedTimer wall;
    wall.start();
    pump(Measure_Ms);
    const double tool_used = cpu_seconds(tool.processId()) - tool_before;
    const double sim_used = cpu_seconds(sim.processId()) - sim_before;
    const double seconds = double(wall.elapsed()) / 1000.0;
    const int poll_count = polls();

    stop(tool);
    stop(sim);

    std::printf("bench_idle_cpu: %s idling against %s for %.1f s\n", qPrintable(tool_path),
                qPrintable(sim_path), seconds);
    std::printf("  status requests      : %d (%.1f per second)\n", poll_count,
                poll_count / seconds);
    std::printf("  kalvenor CPU         : %.3f s = %.2f %% of a core (goal < 0.5 %%)\n", tool_used,
                100.0 * tool_used / seconds);
    std::printf("  loopsim CPU          : %.3f s = %.2f %% of a core\n", sim_used,
                100.0 * sim_used / seconds);
    return 0;
}
