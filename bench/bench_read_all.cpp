// Wall time of "Lire tous les détecteurs" over a loop of type-index-3 detectors on a line paced at
// 9600 baud, against the floor of that many readouts: each 15 pauses of 50 ms and 16 frames of
// 4 bytes out and 5 back at 1.0417 ms a byte. What the run adds between two detectors shows as
// the ratio's excess over 1. Then the same run with a site file open (each readout written on the
// recorder's thread, as with `--site`), against the run without one: goal at most 3 % more.
// The runs without a site file alternate with their same-run anchor (bench/anchor.h): the bytes
// of the first run and the readout pauses replayed by line_anchor against a board of the same
// loop; three of each up to 32 detectors, one of each above.
//   bench_read_all [detectors] [rounds]     (default 128)
#include "addresses/read_all.h"
#include "bench/anchor.h"
#include "bench/figure.h"
#include "bench/fixture.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>

namespace {

// A DLX508B with every parameter its readout asks for, so that each readout is complete.
loopsim::Detector dlx508b() {
    loopsim::Detector d = make_detector(0x1A);
    d.params = {{1, 40}, {2, 8}, {3, 3}, {4, 5}, {5, 20}, {6, 1}, {7, 4}, {12, 100}, {15, 12}};
    return d;
}

loopsim::Loop read_all_loop(int count) {
    loopsim::Loop loop;
    for (int a = 1; a <= count; ++a)
        loop.detectors[a] = dlx508b();
    return loop;
}

// Milliseconds, or -1 when a readout was not complete (or the site did not keep it); the
// tool's side of the line into `recorded`.
double read_all_ms(int count, bool with_site, std::vector<anchor::Exchange>* recorded = nullptr) {
    const loopsim::Loop loop = read_all_loop(count);
    Harness h(loop);
    if (!start_connected(h)) return std::fprintf(stderr, "the board did not connect\n"), -1;
    for (int a = 1; a <= count; ++a)
        mark_found(h.t, a, 3, QStringLiteral("DLX508B"));
    h.t.state.Adr_Count = uint8_t(count);
    h.board.set_paced(true);
    h.board.clear_traffic();
    anchor::Recorder recorder(h.board);
    std::unique_ptr<Bench_Site> site;
    if (with_site) {
        site = std::make_unique<Bench_Site>(h);
        if (!site->started())
            return std::fprintf(stderr, "site file: %s\n", qPrintable(site->why())), -1;
    }

    QElapsedTimer clock;
    clock.start();
    Read_All_Mnu_Click(h.t);
    const bool ended = h.run_until([&h] { return !h.t.read_all.running(); }, count * 3000);
    const double ms = clock.nsecsElapsed() / 1e6;
    if (!ended || h.t.read_all.read().complete != count)
        return std::fprintf(stderr, "incomplete: %d of %d read whole\n",
                            h.t.read_all.read().complete, count),
               -1;
    if (const int kept = site ? site->stored().visit.read : count; kept != count)
        return std::fprintf(stderr, "the site file holds %d read whole\n", kept), -1;
    if (recorded) *recorded = recorder.exchanges();
    return ms;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int count = std::clamp(argc > 1 ? QString(argv[1]).toInt() : 128, 1, 128);
    const double floor_ms = count * (15 * 50.0 + 16 * (4 + 5) * 1.0417);
    const int rounds = std::max(1, argc > 2 ? QString(argv[2]).toInt() : count <= 32 ? 3 : 1);
    QTemporaryDir scratch;
    const QString script = scratch.filePath(QStringLiteral("read_all.anchor"));
    std::vector<double> runs, anchors, pairs;
    for (int round = 0; round < rounds; ++round) {
        std::vector<anchor::Exchange> recorded;
        const double run = read_all_ms(count, false, round == 0 ? &recorded : nullptr);
        if (run < 0) return 1;
        if (round == 0 && !anchor::write_script(recorded, anchor::Pacing::Pauses, script))
            return std::fprintf(stderr, "cannot write %s\n", qPrintable(script)), 1;
        const anchor::Result a = anchor::replay(read_all_loop(count), script);
        if (!a.ok) return std::fprintf(stderr, "anchor failed\n"), 1;
        std::printf("round %d: tool %.1f ms, anchor %.1f ms, ratio %.4f\n", round + 1, run,
                    a.end_ms, run / a.end_ms);
        runs.push_back(run);
        anchors.push_back(a.end_ms);
        pairs.push_back(run / a.end_ms);
    }
    const double ms = anchor::median(runs), anchor_ms = anchor::median(anchors);
    std::printf("read-all of %d type-3 detectors: %.0f ms, floor %.0f ms, ratio %.4f (goal <= "
                "1.03)\n",
                count, ms, floor_ms, ms / floor_ms);
    print_figure(QStringLiteral("read-all of %1 type-3 detectors vs their readouts' floor")
                     .arg(count)
                     .toUtf8()
                     .constData(),
                 ms, "ms", floor_ms, "<= 1.03");
    print_figure(QStringLiteral("read-all of %1 vs same-run anchor (median of %2 pairs)")
                     .arg(count)
                     .arg(rounds)
                     .toUtf8()
                     .constData(),
                 ms, "ms", anchor_ms, "<= 1.01", 1, anchor::median(pairs));
    print_figure(QStringLiteral("read-all of %1 anchor vs the readouts' floor")
                     .arg(count)
                     .toUtf8()
                     .constData(),
                 anchor_ms, "ms", floor_ms, "-");
    const double with_site = read_all_ms(count, true);
    if (with_site < 0) return 1;
    std::printf("the same with a site file open: %.0f ms, ratio %.4f to the run without (goal "
                "<= 1.03)\n",
                with_site, with_site / ms);
    print_figure(QStringLiteral("read-all of %1 with a site file vs the same without")
                     .arg(count)
                     .toUtf8()
                     .constData(),
                 with_site, "ms", ms, "<= 1.03");
    return 0;
}
