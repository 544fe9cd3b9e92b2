// Wall time of a search over a detector on every address, against its floor: 128 probes and
// 128 type reads at one 100 ms tick each, plus the 2000 ms pause of the re-arm. Then the same
// search with a site file open (what the tool learns written on the recorder's thread, as with
// `--site`), against the search without one measured just before: goal at most 1 % more.
// The searches without a site file alternate with their same-run anchor (bench/anchor.h): the
// bytes of the first search, its re-arm pause and its ticks replayed by line_anchor against a
// board of the same loop.
//   bench_search [rounds]     (default 2)
#include "bench/anchor.h"
#include "bench/figure.h"
#include "bench/fixture.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdio>

namespace {

// Seconds, or -1 when the search did not find every detector (or the site did not keep them).
loopsim::Loop search_loop() {
    loopsim::Loop loop;
    for (int a = 1; a <= 128; ++a)
        loop.detectors[a] = make_detector(a % 2 ? 0x13 : 0x1A);
    return loop;
}

double search_seconds(bool with_site, std::vector<anchor::Exchange>* recorded = nullptr) {
    Harness h(search_loop());
    if (!start_connected(h)) return std::fprintf(stderr, "the board did not connect\n"), -1;
    std::unique_ptr<Bench_Site> site;
    if (with_site) {
        site = std::make_unique<Bench_Site>(h);
        if (!site->started())
            return std::fprintf(stderr, "site file: %s\n", qPrintable(site->why())), -1;
    }
    anchor::Recorder recorder(h.board);
    QElapsedTimer clock;
    clock.start();
    h.t.form.Start_Bus_Cmd.click();
    h.run_until([&h] { return h.t.form.Start_Bus_Cmd.Visible(); }, 120000);
    const double seconds = clock.nsecsElapsed() / 1e9;
    if (h.t.state.Adr_Count != 128)
        return std::fprintf(stderr, "found %d\n", h.t.state.Adr_Count), -1;
    if (const int kept = site ? site->stored().visit.found : 128; kept != 128)
        return std::fprintf(stderr, "the site file holds %d found\n", kept), -1;
    if (recorded) *recorded = recorder.exchanges();
    return seconds;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const double floor = 256 * 0.100 + 2.0;
    const int rounds = std::max(1, argc > 1 ? QString(argv[1]).toInt() : 2);
    QTemporaryDir scratch;
    const QString script = scratch.filePath(QStringLiteral("search.anchor"));
    std::vector<double> runs, anchors, pairs;
    for (int round = 0; round < rounds; ++round) {
        std::vector<anchor::Exchange> recorded;
        const double run = search_seconds(false, round == 0 ? &recorded : nullptr);
        if (run < 0) return 1;
        if (round == 0 && !anchor::write_script(recorded, anchor::Pacing::Ticks, script))
            return std::fprintf(stderr, "cannot write %s\n", qPrintable(script)), 1;
        const anchor::Result a = anchor::replay(search_loop(), script);
        if (!a.ok) return std::fprintf(stderr, "anchor failed\n"), 1;
        std::printf("round %d: tool %.3f s, anchor %.3f s, ratio %.4f\n", round + 1, run,
                    a.end_ms / 1000, run * 1000 / a.end_ms);
        runs.push_back(run);
        anchors.push_back(a.end_ms / 1000);
        pairs.push_back(run * 1000 / a.end_ms);
    }
    const double seconds = anchor::median(runs), anchor_s = anchor::median(anchors);
    std::printf("search of 128 detectors: %.3f s, floor %.3f s, ratio %.4f (goal <= 1.005)\n",
                seconds, floor, seconds / floor);
    print_figure("128-detector search vs 256 ticks + 2 s re-arm", seconds, "s", floor, "<= 1.005",
                 3);
    print_figure("128-detector search vs same-run anchor (median of pairs)", seconds, "s", anchor_s,
                 "<= 1.01", 3, anchor::median(pairs));
    print_figure("128-detector search anchor vs 256 ticks + 2 s re-arm", anchor_s, "s", floor, "-",
                 3);
    const double with_site = search_seconds(true);
    if (with_site < 0) return 1;
    std::printf("the same with a site file open: %.3f s, ratio %.4f to the search without "
                "(goal <= 1.01)\n",
                with_site, with_site / seconds);
    print_figure("128-detector search with a site file vs the same without", with_site, "s",
                 seconds, "<= 1.01", 3);
    return 0;
}
