// Wall time of a full readout of a type-index-3 detector on a line paced at 9600 baud, against
// its floor: 15 pauses of 50 ms, and 16 frames of 4 bytes out and 5 back at 1.0417 ms a byte.
//   bench_readout [runs]     (default 9)
#include "addresses/identity.h"
#include "bench/figure.h"
#include "bench/fixture.h"
#include "engine/requests.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>
#include <vector>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    loopsim::Loop loop;
    loop.detectors[21] = make_detector(0x1A);
    Harness h(loop);
    if (!start_connected(h)) return std::fprintf(stderr, "the board did not connect\n"), 1;
    mark_found(h.t, 21, 3, QStringLiteral("DLX508B"));
    h.t.state.Sel_Adr = 21;
    h.board.set_paced(true);

    const double floor_ms = 15 * 50.0 + 16 * (4 + 5) * 1.0417;
    std::vector<double> ms(argc > 1 ? std::max(1, QString(argv[1]).toInt()) : 9);
    for (double& run : ms) {
        h.board.clear_traffic();
        QElapsedTimer clock;
        clock.start();
        Line::Step_Scope step(h.t.link);
        Read_Identity(h.t);
        run = clock.nsecsElapsed() / 1e6;
        if (h.board.received().size() != 16 * 4) return std::fprintf(stderr, "incomplete\n"), 1;
    }
    std::sort(ms.begin(), ms.end());
    const double median = ms[ms.size() / 2], worst = ms.back();
    std::printf("readout of a type-3 detector, %zu runs: median %.1f ms, max %.1f ms, floor %.1f "
                "ms, ratio median %.4f, worst %.4f (goal <= 1.05)\n",
                ms.size(), median, worst, floor_ms, median / floor_ms, worst / floor_ms);
    print_figure("type-3 readout vs pauses + wire time (median)", median, "ms", floor_ms,
                 "<= 1.05");
    print_figure("type-3 readout vs pauses + wire time (worst)", worst, "ms", floor_ms, "-");
    return 0;
}
