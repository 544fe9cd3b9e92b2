// Start-up of the tool, cold, in fresh processes: from main() to the first paint of the main
// window, and the peak memory. Goals: under 300 ms and under 60 MB.
//
//   bench_startup [runs]     (default 7; run under QT_QPA_PLATFORM=offscreen or a display)
#include "app/ui/main_window.h"
#include "app/ui/startup.h"
#include "bench/figure.h"
#include "link/qt_serial_port.h"
#include "tools/loopsim/board.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <sys/resource.h>

namespace {

struct First_Paint : QObject {
    QWidget* client = nullptr;
    bool painted = false;
    bool eventFilter(QObject* o, QEvent* e) override {
        painted |= o == client && e->type() == QEvent::Paint;
        return false;
    }
};

int child(int argc, char** argv, const QElapsedTimer& since_main) {
    QApplication app(argc, argv);
    // The simulated board stands in for the hardware; its own start is left out.
    QElapsedTimer board_clock;
    board_clock.start();
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    loopsim::Board board;
    if (!board.start(dir.path(), 1)) return 1;
    const qint64 board_ns = board_clock.nsecsElapsed();

    First_Paint paint;
    app.installEventFilter(&paint);
    Session session(make_qt_serial_port());
    session.start();
    paint.client = session.window().client();
    QElapsedTimer limit;
    limit.start();
    while (!paint.painted && limit.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    std::printf("%.1f %.1f\n", (since_main.nsecsElapsed() - board_ns) / 1e6, u.ru_maxrss / 1024.0);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QElapsedTimer since_main;
    since_main.start();
    if (argc > 1 && QString(argv[1]) == QLatin1String("--child"))
        return child(argc, argv, since_main);

    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, QString(argv[1]).toInt()) : 7;
    std::vector<double> figures[2];
    for (int i = 0; i < runs; ++i) {
        QProcess p;
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--child")});
        if (!p.waitForFinished(30000) || p.exitCode() != 0)
            return std::fprintf(stderr, "run %d failed\n", i + 1), 1;
        const QStringList f = QString::fromLatin1(p.readAllStandardOutput()).split(' ');
        for (int k = 0; k < 2; ++k)
            figures[k].push_back(f.value(k).toDouble());
    }
    const char* labels[2] = {"main() -> window painted (ms)", "peak memory (MB)"};
    std::printf("start-up of kalvenor, %d fresh processes\n%-38s %8s %8s %8s\n", runs, "figure",
                "median", "min", "max");
    for (int k = 0; k < 2; ++k) {
        std::sort(figures[k].begin(), figures[k].end());
        std::printf("%-38s %8.1f %8.1f %8.1f\n", labels[k], figures[k][runs / 2],
                    figures[k].front(), figures[k].back());
    }
    print_figure("start-up, main() to window painted (median)", figures[0][runs / 2], "ms",
                 No_Anchor, "< 300");
    print_figure("peak memory at start-up (largest run)", figures[1].back(), "MB", No_Anchor,
                 "< 60");
    return 0;
}
