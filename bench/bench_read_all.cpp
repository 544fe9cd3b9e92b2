// Wall time of "Lire tous les détecteurs" over a loop of type-index-3 detectors on a line paced at
// 9600 baud, against the floor of that many readouts: each 15 pauses of 50 ms and 16 frames of
// 4 bytes out and 5 back at 1.0417 ms a byte. What the run adds between two detectors shows as
// the ratio's excess over 1.
//   bench_read_all [detectors]     (default 128)
#include "addresses/read_all.h"
#include "bench/figure.h"
#include "bench/fixture.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int count = std::clamp(argc > 1 ? QString(argv[1]).toInt() : 128, 1, 128);
    loopsim::Loop loop;
    for (int a = 1; a <= count; ++a)
        loop.detectors[a] = make_detector(0x1A);
    Harness h(loop);
    if (!start_connected(h)) return std::fprintf(stderr, "the board did not connect\n"), 1;
    for (int a = 1; a <= count; ++a)
        mark_found(h.t, a, 3, QStringLiteral("DLX508B"));
    h.t.state.Adr_Count = uint8_t(count);
    h.board.set_paced(true);
    h.board.clear_traffic();

    const double floor_ms = count * (15 * 50.0 + 16 * (4 + 5) * 1.0417);
    QElapsedTimer clock;
    clock.start();
    Read_All_Mnu_Click(h.t);
    const bool ended = h.run_until([&h] { return !h.t.read_all.running(); }, count * 3000);
    const double ms = clock.nsecsElapsed() / 1e6;
    if (!ended || h.t.read_all.read().complete != count)
        return std::fprintf(stderr, "incomplete: %d of %d read whole\n",
                            h.t.read_all.read().complete, count),
               1;
    std::printf("read-all of %d type-3 detectors: %.0f ms, floor %.0f ms, ratio %.4f (goal <= "
                "1.03)\n",
                count, ms, floor_ms, ms / floor_ms);
    print_figure(QStringLiteral("read-all of %1 type-3 detectors vs their readouts' floor")
                     .arg(count)
                     .toUtf8()
                     .constData(),
                 ms, "ms", floor_ms, "<= 1.03");
    return 0;
}
