// Exchanges per second through Exchange_Byte over a pseudo-terminal whose far end answers each
// byte at once, beside a plain write/poll/read loop on the same kind of terminal.
//   bench_exchange [slices]     (default 20 slices of 200 ms for each side)
#include "bench/figure.h"
#include "support/link_wiring.h"

#include "link/com_port.h"
#include "link/exchange.h"
#include "link/qt_serial_port.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// The board side, on its own thread so it answers whatever the tool's thread is doing.
struct Echo_Board {
    int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    std::atomic<bool> stop{false};
    std::thread thread;
    QString slave;
    Echo_Board() {
        ::grantpt(master);
        ::unlockpt(master);
        slave = QString::fromLocal8Bit(::ptsname(master));
        thread = std::thread([this] {
            pollfd p{master, POLLIN, 0};
            char buf[256];
            while (!stop)
                if (::poll(&p, 1, 50) > 0) {
                    const ssize_t n = ::read(master, buf, sizeof buf);
                    if (n > 0 && ::write(master, buf, size_t(n)) != n) return;
                }
        });
    }
    ~Echo_Board() {
        stop = true;
        thread.join();
        ::close(master);
    }
};

int count_for(int ms, const std::function<bool(uint8_t)>& exchange) {
    int count = 0;
    QElapsedTimer e;
    e.start();
    while (e.elapsed() < ms && exchange(uint8_t(count)))
        ++count;
    return count;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    Echo_Board plain_board, tool_board;

    const int fd = ::open(plain_board.slave.toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
    termios tio{};
    ::tcgetattr(fd, &tio);
    ::cfmakeraw(&tio);
    ::cfsetspeed(&tio, B9600);
    ::tcsetattr(fd, TCSANOW, &tio);
    const auto plain = [fd](uint8_t out) {
        char in = 0;
        pollfd p{fd, POLLIN, 0};
        return ::write(fd, &out, 1) == 1 && ::poll(&p, 1, 2000) > 0 && ::read(fd, &in, 1) == 1 &&
               uint8_t(in) == out;
    };

    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    QFile::link(tool_board.slave, dir.filePath("COM1"));
    Tool t;
    t.Comm1 = make_qt_serial_port();
    Wire_Link_Events(t);
    t.S.Com_Port = 1;
    Open_Com_Port(t);
    t.F.Timer_Tache.stop();
    const auto tool = [&t](uint8_t out) {
        return Exchange_Byte(t, out, 1) && t.S.Rx_Has(1) && t.S.Rx(0) == out;
    };

    // Short alternating slices, so other work on the machine weighs on both alike; the median
    // of the slice ratios is the figure least moved by a burst of it.
    const int Rounds = argc > 1 ? std::max(1, QString(argv[1]).toInt()) : 20;
    constexpr int Slice_Ms = 200;
    long plain_count = 0, tool_count = 0;
    std::vector<double> ratios;
    for (int i = 0; i < Rounds; ++i) {
        const int p = count_for(Slice_Ms, plain), q = count_for(Slice_Ms, tool);
        plain_count += p;
        tool_count += q;
        if (p > 0) ratios.push_back(double(q) / p);
    }
    std::sort(ratios.begin(), ratios.end());
    const double seconds = Rounds * Slice_Ms / 1000.0;
    std::printf("bench_exchange: %d slices of %d ms, one byte out and its answer in\n", Rounds,
                Slice_Ms);
    std::printf("  plain termios write/poll/read : %9.0f exchanges/s\n", plain_count / seconds);
    std::printf("  Exchange_Byte (Qt port)       : %9.0f exchanges/s\n", tool_count / seconds);
    const double median = ratios.empty() ? 0.0 : ratios[ratios.size() / 2];
    std::printf("  median ratio of the slices    : %9.2f (goal >= 0.5)\n", median);
    Print_Figure("exchanges/s, Exchange_Byte vs raw termios (median slice ratio)",
                 tool_count / seconds, "1/s", plain_count / seconds, ">= 0.5", 0, median);
    t.Comm1->Close();
    ::close(fd);
    return 0;
}
