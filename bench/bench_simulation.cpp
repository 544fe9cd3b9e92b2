// One full pass of the control-panel simulation over a loop of 128 detectors, against the
// simulated board: the pass is paced by the 100 ms task tick, so 12.8 s is the floor.
#include "support/harness.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>

namespace {

constexpr int Addresses = 128;
constexpr double Floor_Ms = Addresses * 100.0;

struct Figures {
    double click_to_last_ms = 0; // start click until the 128th poll has been answered
    double pass_ms = 0;          // first byte of poll 1 to first byte of the next pass's poll 1
    double max_gap_ms = 0;       // longest time between two successive polls
    int green = 0;
    bool complete = false;
};

Figures Run(bool paced) {
    loopsim::Loop loop;
    loop.script.clear();
    for (int a = 1; a <= Addresses; ++a) {
        loopsim::Detector d;
        d.type_code = 0x21;
        loop.detectors[a] = d;
    }
    Harness h(loop);
    h.board.set_paced(paced);
    h.load();
    Figures f;
    if (!h.run_until([&h] { return h.t.S.Task_State == Task::Idle_Status && h.t.S.Connected; },
                     5000))
        return f;

    Tool& t = h.t;
    t.S.Adr_Count = Addresses;
    for (int a = 1; a <= Addresses; ++a) {
        t.S.Adr_Type[a - 1] = 2;
        t.F.Adr_Box(a).setBackColor(RGB(128, 128, 255));
    }
    t.F.Adr_Status_Cde.setVisible(true);

    QElapsedTimer clock;
    QList<qint64> poll_starts; // ns, at the header byte of each poll frame
    int received = 0;
    QObject context;
    QObject::connect(&h.board, &loopsim::Board::byte_received, &context, [&](quint8) {
        if (received++ % 4 == 0) poll_starts << clock.nsecsElapsed();
    });

    h.board.clear_traffic();
    clock.start();
    t.F.Adr_Status_Cde.click();
    f.complete =
        h.run_until([&] { return poll_starts.size() >= Addresses && t.S.Sim_Address == 1; }, 30000);
    f.click_to_last_ms = clock.nsecsElapsed() / 1e6;
    h.run_until([&] { return poll_starts.size() > Addresses; }, 2000);
    f.complete =
        f.complete && poll_starts.size() > Addresses && h.board.received().size() >= 4 * Addresses;
    if (!f.complete) return f;

    f.pass_ms = (poll_starts[Addresses] - poll_starts[0]) / 1e6;
    for (int i = 1; i <= Addresses; ++i)
        f.max_gap_ms = std::max(f.max_gap_ms, (poll_starts[i] - poll_starts[i - 1]) / 1e6);
    for (int a = 1; a <= Addresses; ++a)
        if (t.F.Adr_Box(a).BackColor() == RGB(0, 255, 0)) ++f.green;
    return f;
}

void Print(const char* name, const Figures& f) {
    if (!f.complete) {
        std::printf("%-26s did not complete a pass\n", name);
        return;
    }
    std::printf("%-26s pass %8.1f ms  ratio %.4f   click->128th reply %8.1f ms  ratio %.4f   "
                "max gap %6.1f ms   green %d/%d\n",
                name, f.pass_ms, f.pass_ms / Floor_Ms, f.click_to_last_ms,
                f.click_to_last_ms / Floor_Ms, f.max_gap_ms, f.green, Addresses);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    std::printf("Simulation pass over %d addresses, floor %.0f ms (goal: ratio <= 1.02)\n",
                Addresses, Floor_Ms);
    Print("instant board", Run(false));
    Print("board paced at 9600 baud", Run(true));
    return 0;
}
