// Wall time of a full readout of a type-index-3 detector on a line paced at 9600 baud, against
// its floor: 15 pauses of 50 ms, and 16 frames of 4 bytes out and 5 back at 1.0417 ms a byte;
// and against its same-run anchor: the same bytes and pauses replayed by line_anchor (plain
// termios, no event loop) against a board of the same loop, each tool run followed by one.
//   bench_readout [runs]     (default 9)
// KAL_KEEP_ANCHOR=1 keeps the anchor's script and says where it is.
#include "addresses/identity.h"
#include "bench/anchor.h"
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
    anchor::Recorder recorder(h.board);
    const auto readout = [&] {
        h.board.clear_traffic();
        recorder.clear();
        QElapsedTimer clock;
        clock.start();
        Line::Step_Scope step(h.t.link);
        Read_Identity(h.t);
        const double run = clock.nsecsElapsed() / 1e6;
        return h.board.received().size() == 16 * 4 ? run : -1.0;
    };
    // A first readout, not counted, gives the anchor its script.
    QTemporaryDir scratch;
    scratch.setAutoRemove(qEnvironmentVariableIsEmpty("KAL_KEEP_ANCHOR"));
    if (!scratch.autoRemove()) std::printf("anchor script in %s\n", qPrintable(scratch.path()));
    const QString script = scratch.filePath(QStringLiteral("readout.anchor"));
    if (readout() < 0 ||
        !anchor::write_script(recorder.exchanges(), anchor::Pacing::Pauses, script))
        return std::fprintf(stderr, "incomplete\n"), 1;
    std::vector<double> ms(argc > 1 ? std::max(1, QString(argv[1]).toInt()) : 9);
    std::vector<double> anchors, pairs;
    for (double& run : ms) {
        run = readout();
        if (run < 0) return std::fprintf(stderr, "incomplete\n"), 1;
        const anchor::Result a = anchor::replay(loop, script);
        if (!a.ok || a.exchanges != 16 * 4) return std::fprintf(stderr, "anchor failed\n"), 1;
        anchors.push_back(a.end_ms);
        pairs.push_back(run / a.end_ms);
    }
    const double anchor_ms = anchor::median(anchors), pair_ratio = anchor::median(pairs);
    std::sort(ms.begin(), ms.end());
    const double median = ms[ms.size() / 2], worst = ms.back();
    std::printf("readout of a type-3 detector, %zu runs: median %.1f ms, max %.1f ms, floor %.1f "
                "ms, ratio median %.4f, worst %.4f (goal <= 1.05)\n",
                ms.size(), median, worst, floor_ms, median / floor_ms, worst / floor_ms);
    print_figure("type-3 readout vs pauses + wire time (median)", median, "ms", floor_ms,
                 "<= 1.05");
    print_figure("type-3 readout vs pauses + wire time (worst)", worst, "ms", floor_ms, "-");
    std::printf("anchor (line_anchor, same bytes and pauses): median %.1f ms, min %.1f, max %.1f; "
                "tool / anchor, median of the pairs %.4f (goal <= 1.01); anchor / floor %.4f\n",
                anchor_ms, *std::min_element(anchors.begin(), anchors.end()),
                *std::max_element(anchors.begin(), anchors.end()), pair_ratio,
                anchor_ms / floor_ms);
    print_figure("type-3 readout vs same-run anchor (median of pairs)", median, "ms", anchor_ms,
                 "<= 1.01", 1, pair_ratio);
    print_figure("type-3 readout anchor vs pauses + wire time", anchor_ms, "ms", floor_ms, "-");
    return 0;
}
