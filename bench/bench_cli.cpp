// kalvenor-cli against the simulated board: the time from its start to its first byte on the
// line (`probe`), and a search of a detector on every address against the search's floor (128
// probes and 128 type reads at one 100 ms tick each, plus the 2000 ms pause of the re-arm),
// timed from the re-arm's first byte to the program's end. The start to the first byte is also
// timed with `--site FILE`, for information: a new site file made at each run, and one site file
// opened again at each run (each run adds its visit), against the start without a site.
//   bench_cli [path/to/kalvenor-cli]
#include "bench/figure.h"
#include "bench/fixture.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

// Runs the program with `args` in `dir`, the board answering meanwhile; calls `on_byte` with
// the time since the start each time the board has received more.
int run(const QString& cli, const QString& dir, const QStringList& args,
        const std::function<void(qint64)>& on_byte, loopsim::Board& board) {
    QProcess p;
    p.setWorkingDirectory(dir);
    p.setStandardOutputFile(QProcess::nullDevice());
    p.setStandardErrorFile(QProcess::nullDevice());
    QElapsedTimer clock;
    QTimer look;
    look.setTimerType(Qt::PreciseTimer);
    qsizetype seen = board.received().size();
    QObject::connect(&look, &QTimer::timeout, [&] {
        if (board.received().size() == seen) return;
        seen = board.received().size();
        on_byte(clock.nsecsElapsed() / 1000);
    });
    QEventLoop wait;
    QObject::connect(&p, &QProcess::finished, &wait, &QEventLoop::quit);
    clock.start();
    p.start(cli, args);
    look.start(1);
    wait.exec();
    return p.exitCode();
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QString cli =
        argc > 1 ? QString(argv[1]) : QCoreApplication::applicationDirPath() + "/../kalvenor-cli";
    QTemporaryDir dir;
    loopsim::Loop loop;
    for (int a = 1; a <= 128; ++a)
        loop.detectors[a] = make_detector(a % 2 ? 0x13 : 0x1A);
    loopsim::Board board(loop);
    if (!board.start(dir.path(), 1)) return std::fprintf(stderr, "no board\n"), 1;

    // The median time to the first byte of five `probe` runs, each with `site(i)` before it.
    const auto first_byte_ms = [&](const std::function<QStringList(int)>& site) {
        std::vector<double> first_ms;
        for (int i = 0; i < 5; ++i) {
            double first = -1;
            board.clear_traffic();
            run(
                cli, dir.path(), site(i) << QStringLiteral("probe"),
                [&](qint64 us) {
                    if (first < 0) first = us / 1000.0;
                },
                board);
            first_ms.push_back(first);
        }
        std::sort(first_ms.begin(), first_ms.end());
        return first_ms[2];
    };
    const double first = first_byte_ms([](int) { return QStringList(); });
    const QString kept = dir.filePath(QStringLiteral("kept.kalsite"));
    if (run(
            cli, dir.path(), {"--site", kept, "probe"}, [](qint64) {}, board) != 0)
        return std::fprintf(stderr, "no site file is made\n"), 1;
    const double with_kept = first_byte_ms([&](int) { return QStringList{"--site", kept}; });
    const double with_new = first_byte_ms([&](int i) {
        return QStringList{"--site", dir.filePath(QStringLiteral("new-%1.kalsite").arg(i))};
    });

    board.clear_traffic();
    QElapsedTimer since_rearm;
    const int status = run(
        cli, dir.path(), {"search"},
        [&](qint64) {
            if (!since_rearm.isValid() && board.received().contains('\x04')) since_rearm.start();
        },
        board);
    const double seconds = since_rearm.isValid() ? since_rearm.nsecsElapsed() / 1e9 : -1;
    const double floor = 256 * 0.100 + 2.0;
    if (status != 0 || seconds < 0) return std::fprintf(stderr, "search failed (%d)\n", status), 1;
    std::printf("kalvenor-cli: first byte after %.1f ms (median of 5); search of 128: %.3f s, "
                "ratio %.4f\n",
                first, seconds, seconds / floor);
    std::printf("with --site: first byte after %.1f ms with a site file opened again, %.1f ms "
                "with a new one\n",
                with_kept, with_new);
    print_figure("kalvenor-cli probe: start to first byte (median)", first, "ms", No_Anchor,
                 "< 50");
    print_figure("kalvenor-cli --site (file opened again) probe: start to first byte", with_kept,
                 "ms", first, "-");
    print_figure("kalvenor-cli --site (new file) probe: start to first byte", with_new, "ms", first,
                 "-");
    print_figure("kalvenor-cli search of 128 vs 256 ticks + 2 s re-arm", seconds, "s", floor,
                 "<= 1.01", 3);
    return 0;
}
