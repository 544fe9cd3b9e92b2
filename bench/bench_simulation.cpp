// One full pass of the control-panel simulation over a loop of 128 detectors, against the
// simulated board: the pass is paced by the 100 ms task tick, so 12.8 s is the floor. One
// detector in eight is in point fault, so that the pass has faults to tell. Each pass is
// measured twice: without a site file, against the floor, then with one open (each change
// written on the recorder's thread, as with `--site`), against the pass without: goal at most
// 0.5 % more. On the paced board each pass without a site file alternates with its same-run
// anchor (bench/anchor.h): the bytes of the first pass and its ticks replayed by line_anchor
// against a board of the same loop, three of each.
//   bench_simulation [--paced-only]
#include "bench/anchor.h"
#include "bench/figure.h"
#include "bench/fixture.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdio>

namespace {

constexpr int Addresses = 128;
constexpr int Faults = Addresses / 8;
constexpr double Floor_Ms = Addresses * 100.0;

// Time from the first poll of address 1 to the first poll of address 1 in the next pass, ms;
// -1 when the pass did not complete (or the site file did not keep its faults).
loopsim::Loop pass_loop() {
    loopsim::Loop loop;
    loop.script.clear();
    for (int a = 1; a <= Addresses; ++a) {
        loop.detectors[a].type_code = 0x21;
        if (a % 8 == 0) loop.detectors[a].state = 0x08;
    }
    return loop;
}

double pass_ms(bool paced, bool with_site, std::vector<anchor::Exchange>* recorded = nullptr) {
    Harness h(pass_loop());
    h.board.set_paced(paced);
    if (!start_connected(h)) return -1;
    std::unique_ptr<Bench_Site> site;
    if (with_site) {
        site = std::make_unique<Bench_Site>(h);
        if (!site->started())
            return std::fprintf(stderr, "site file: %s\n", qPrintable(site->why())), -1;
    }
    h.t.state.Adr_Count = Addresses;
    h.t.state.Adr_Type.fill(2);
    h.t.form.Adr_Status_Cde.set_visible(true);
    QElapsedTimer clock;
    QList<qint64> poll_starts; // at the header byte of each poll frame
    QObject::connect(&h.board, &loopsim::Board::byte_received, &h.board, [&](quint8) {
        if (h.board.received().size() % 4 == 1) poll_starts << clock.nsecsElapsed();
    });
    h.board.clear_traffic();
    anchor::Recorder recorder(h.board);
    clock.start();
    h.t.form.Adr_Status_Cde.click();
    if (!h.run_until([&] { return poll_starts.size() > Addresses; }, 30000)) return -1;
    const double ms = (poll_starts[Addresses] - poll_starts[0]) / 1e6;
    if (site) {
        const site::Stored_Visit v = site->stored();
        int faults = 0;
        for (const record::Detector& d : v.detectors)
            faults += d.point_faults.count;
        if (faults != Faults)
            return std::fprintf(stderr, "the site file holds %d point faults\n", faults), -1;
    }
    if (recorded) *recorded = recorder.exchanges();
    return ms;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    std::printf("Simulation pass over %d addresses, floor %.0f ms (goal: ratio <= 1.02); with a "
                "site file, against the pass without (goal: ratio <= 1.005)\n",
                Addresses, Floor_Ms);
    const bool paced_only = argc > 1 && QString(argv[1]) == QLatin1String("--paced-only");
    int failed = 0;
    for (const bool paced : {false, true}) {
        if (paced_only && !paced) continue;
        const char* board = paced ? "board paced at 9600 baud" : "instant board";
        // Against the paced board, three passes each followed by its anchor.
        std::vector<double> runs, anchors, pairs;
        QTemporaryDir scratch;
        const QString script = scratch.filePath(QStringLiteral("pass.anchor"));
        for (int round = 0; round < (paced ? 3 : 1); ++round) {
            std::vector<anchor::Exchange> recorded;
            const double run = pass_ms(paced, false, &recorded);
            if (run < 0) break;
            runs.push_back(run);
            if (!paced) break;
            if (round == 0 &&
                !anchor::write_script(recorded, anchor::Pacing::Ticks, script, Addresses * 4))
                break;
            const anchor::Result a = anchor::replay(pass_loop(), script);
            if (!a.ok || a.mark_ms <= 0) break;
            std::printf("round %d: pass %.1f ms, anchor %.1f ms, ratio %.4f\n", round + 1, run,
                        a.mark_ms, run / a.mark_ms);
            anchors.push_back(a.mark_ms);
            pairs.push_back(run / a.mark_ms);
        }
        const double ms = runs.size() == (paced ? 3u : 1u) && anchors.size() == (paced ? 3u : 0u)
                              ? anchor::median(runs)
                              : -1;
        const double with_site = ms < 0 ? -1 : pass_ms(paced, true);
        if (ms < 0 || with_site < 0) {
            std::fprintf(stderr, "the %s pass did not complete\n", board);
            ++failed;
            continue;
        }
        std::printf("%-26s pass %8.1f ms  ratio %.4f; with a site file %8.1f ms  ratio %.4f\n",
                    board, ms, ms / Floor_Ms, with_site, with_site / ms);
        print_figure(
            QStringLiteral("simulation pass, 128 addresses, %1").arg(board).toUtf8().constData(),
            ms, "ms", Floor_Ms, "<= 1.02");
        if (paced) {
            print_figure("simulation pass, paced board, vs same-run anchor (median of 3 pairs)", ms,
                         "ms", anchor::median(anchors), "-", 1, anchor::median(pairs));
            print_figure("simulation pass anchor, paced board, vs one tick per address",
                         anchor::median(anchors), "ms", Floor_Ms, "-");
        }
        print_figure(QStringLiteral("simulation pass, %1, with a site file vs without")
                         .arg(board)
                         .toUtf8()
                         .constData(),
                     with_site, "ms", ms, "<= 1.005");
    }
    return failed ? 1 : 0;
}
