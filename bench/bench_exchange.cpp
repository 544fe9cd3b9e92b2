// exchanges per second through Exchange_Byte over a pseudo-terminal whose far end answers each
// byte at once, beside a plain write/poll/read loop on the same kind of terminal.
//   bench_exchange [seconds]     (default 8)
#include "app/link_events.h"
#include "bench/figure.h"
#include "model/tool.h"

#include <QElapsedTimer>

#include "engine/com_port.h"
#include "link/qt_serial_port.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
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

// Nanoseconds for n exchanges, or -1 when one of them fails.
template <typename Exchange> qint64 time_block(int n, const Exchange& exchange) {
    QElapsedTimer e;
    e.start();
    for (int i = 0; i < n; ++i)
        if (!exchange(uint8_t(i))) return -1;
    return e.nsecsElapsed();
}

} // namespace

int main(int argc, char** argv) {
    // Everything on one processor, echo threads included: with the two sides of a loop on
    // one core or on two as the scheduler pleases, either loop's rate doubles or halves from
    // one run to the next, and the ratio with it.
    const int cpu = ::sched_getcpu();
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(cpu, &one);
    const bool pinned = cpu >= 0 && ::sched_setaffinity(0, sizeof one, &one) == 0;

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
    t.link.set_port(make_qt_serial_port());
    wire_link_events(t);
    t.state.Com_Port = 1;
    Open_Com_Port(t);
    t.form.Timer_Tache.stop();
    const auto tool = [&t](uint8_t out) {
        return t.link.Exchange_Byte(out, 1) && t.link.rx_has(1) && t.link.rx(0) == out;
    };

    // Small blocks of each in strict alternation, so a burst of other work on the machine, or
    // a slow wake-up of the terminal's kernel worker, weighs on both alike; the median of the
    // ratios of neighbouring blocks is the figure least moved by either.
    const double seconds = argc > 1 ? std::max(1, QString(argv[1]).toInt()) : 8;
    constexpr int Block = 8;
    qint64 plain_ns = 0, tool_ns = 0;
    long long blocks = 0;
    std::vector<double> ratios;
    QElapsedTimer run;
    run.start();
    while (run.elapsed() < seconds * 1000) {
        const qint64 p = time_block(Block, plain), q = time_block(Block, tool);
        if (p <= 0 || q <= 0)
            return std::fprintf(stderr, "bench_exchange: %s failed after %lld blocks%s\n",
                                p <= 0 ? "the plain loop" : "Exchange_Byte", blocks,
                                q <= 0 && t.link.last_fault() == Line::Link_Fault::No_Reply
                                    ? ", timed out"
                                    : ""),
                   1;
        plain_ns += p;
        tool_ns += q;
        ++blocks;
        ratios.push_back(double(p) / double(q));
    }
    std::sort(ratios.begin(), ratios.end());
    const double median = ratios[ratios.size() / 2];
    const double plain_rate = blocks * Block / (plain_ns / 1e9);
    const double tool_rate = blocks * Block / (tool_ns / 1e9);
    std::printf("bench_exchange: %.0f s of alternating blocks of %d exchanges of one byte and its "
                "answer, %s\n",
                seconds, Block,
                pinned ? "all threads on one processor" : "threads where they fall");
    std::printf("  plain termios write/poll/read : %9.0f exchanges/s\n", plain_rate);
    std::printf("  Exchange_Byte (Qt port)       : %9.0f exchanges/s\n", tool_rate);
    std::printf("  median ratio of the blocks    : %9.2f (goal >= 0.5)\n", median);
    print_figure("exchanges/s, Exchange_Byte vs raw termios (median block ratio)", tool_rate, "1/s",
                 plain_rate, ">= 0.5", 0, median);
    return 0;
}
