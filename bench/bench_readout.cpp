// Wall time of one full readout of a type-index-3 detector on a line paced at 9600 baud, against
// its floor: 15 pauses of 50 ms, and 16 frames of 4 bytes out and 5 back at 1.0417 ms a byte.
#include "addresses/identity.h"
#include "addresses_fixture.h"
#include "engine/requests.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>
#include <vector>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int adr = 21;
    loopsim::Loop loop;
    loopsim::Detector d = Make_Detector(0x1A);
    d.serial = {7, 12, 1, 44};
    for (int c : {1, 2, 3, 4, 5, 6, 7, 12, 15})
        d.params[uint8_t(c)] = uint8_t(c * 10);
    d.mode = 0x04;
    loop.detectors[adr] = d;
    Harness h(loop);
    if (!Start_Connected(h)) {
        std::fprintf(stderr, "the simulated board did not connect\n");
        return 1;
    }
    Mark_Found(h.t, adr, 3, QStringLiteral("DLX508B"));
    h.t.S.Sel_Adr = adr;
    h.board.set_paced(true);

    const double byte_ms = 1.0417;
    const double floor_ms = 15 * 50.0 + 16 * (4 + 5) * byte_ms;
    const int runs = 10;
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        h.board.clear_traffic();
        QElapsedTimer clock;
        clock.start();
        {
            Bus_Busy_Scope step(h.t);
            Read_Identity(h.t);
        }
        ms.push_back(clock.nsecsElapsed() / 1e6);
        if (h.board.received().size() != 16 * 4 ||
            h.t.F.Value_Lbl(14).Caption() != "Optique Statique") {
            std::fprintf(stderr, "readout %d incomplete (%d bytes)\n", i,
                         int(h.board.received().size()));
            return 1;
        }
    }
    std::sort(ms.begin(), ms.end());
    double sum = 0;
    for (double v : ms)
        sum += v;
    std::printf("readout of a type-3 detector, %d runs: min %.1f ms, median %.1f ms, "
                "mean %.1f ms, max %.1f ms\n",
                runs, ms.front(), ms[runs / 2], sum / runs, ms.back());
    std::printf("floor %.1f ms; ratio median %.4f, worst %.4f (goal <= 1.05)\n", floor_ms,
                ms[runs / 2] / floor_ms, ms.back() / floor_ms);
    return 0;
}
