// Exchanges per second through Exchange_Byte over a pseudo-terminal whose far end answers each
// byte at once, beside a plain write/poll/read loop on the same kind of terminal.
#include "support/link_wiring.h"

#include "app/tool.h"
#include "link/com_port.h"
#include "link/exchange.h"
#include "link/qt_serial_port.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr int Rounds = 20;
constexpr int Slice_Ms = 200;

// The board side: a pseudo-terminal master that sends every byte straight back, on its own
// thread so it answers whatever the tool's thread is doing.
class Echo_Board {
  public:
    Echo_Board() {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
            std::perror("pseudo-terminal");
            std::exit(1);
        }
        slave_path_ = QString::fromLocal8Bit(::ptsname(master_));
        // Raw on both sides from the start, so nothing is echoed or translated by the driver.
        hold_ = ::open(::ptsname(master_), O_RDWR | O_NOCTTY);
        termios tio{};
        ::tcgetattr(hold_, &tio);
        ::cfmakeraw(&tio);
        ::tcsetattr(hold_, TCSANOW, &tio);
        thread_ = std::thread([this] { run(); });
    }
    ~Echo_Board() {
        stop_ = true;
        thread_.join();
        ::close(hold_);
        ::close(master_);
    }
    const QString& slave_path() const { return slave_path_; }

  private:
    void run() {
        pollfd p{master_, POLLIN, 0};
        char buf[256];
        while (!stop_) {
            if (::poll(&p, 1, 50) <= 0) continue;
            const ssize_t n = ::read(master_, buf, sizeof buf);
            if (n > 0) {
                ssize_t done = 0;
                while (done < n) {
                    const ssize_t w = ::write(master_, buf + done, size_t(n - done));
                    if (w < 0 && errno != EAGAIN && errno != EINTR) return;
                    if (w > 0) done += w;
                }
            }
        }
    }

    int master_ = -1;
    int hold_ = -1;
    QString slave_path_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
};

// The tool's side: a Tool with the Qt port opened on COM1 of a temporary directory.
class Tool_Side {
  public:
    explicit Tool_Side(const QString& slave_path) {
        old_ = QDir::currentPath();
        QDir::setCurrent(dir_.path());
        QFile::link(slave_path, dir_.filePath("COM1"));
        t_.Comm1 = make_qt_serial_port();
        Wire_Link_Events(t_);
        t_.S.Com_Port = 1;
        Open_Com_Port(t_);
        t_.F.Timer_Tache.stop();
        if (!t_.Comm1->PortOpen()) {
            std::fprintf(stderr, "could not open %s\n", qPrintable(slave_path));
            std::exit(1);
        }
    }
    ~Tool_Side() {
        t_.Comm1->Close();
        QDir::setCurrent(old_);
    }
    // Exchanges done in ms milliseconds.
    int run(int ms) {
        int count = 0;
        QElapsedTimer e;
        e.start();
        while (e.elapsed() < ms) {
            const uint8_t b = uint8_t(count & 0xFF);
            if (Exchange_Byte(t_, b, 1) && t_.S.Rx_Has(1) && t_.S.Rx(0) == b)
                ++count;
            else
                ++failed;
        }
        return count;
    }
    int failed = 0;

  private:
    QTemporaryDir dir_;
    QString old_;
    Tool t_;
};

// The same exchange with nothing but the system calls.
class Plain_Side {
  public:
    explicit Plain_Side(const QString& slave_path) {
        fd_ = ::open(slave_path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
        termios tio{};
        ::tcgetattr(fd_, &tio);
        ::cfmakeraw(&tio);
        ::cfsetspeed(&tio, B9600);
        ::tcsetattr(fd_, TCSANOW, &tio);
        ::tcflush(fd_, TCIOFLUSH);
    }
    ~Plain_Side() { ::close(fd_); }
    int run(int ms) {
        int count = 0;
        QElapsedTimer e;
        e.start();
        while (e.elapsed() < ms) {
            const char out = char(count & 0xFF);
            char in = 0;
            if (::write(fd_, &out, 1) != 1) break;
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 2000) <= 0) break;
            if (::read(fd_, &in, 1) == 1 && in == out) ++count;
        }
        return count;
    }

  private:
    int fd_ = -1;
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    Echo_Board plain_board, tool_board;
    Plain_Side plain(plain_board.slave_path());
    Tool_Side tool(tool_board.slave_path());

    // Short alternating slices, so a machine busy with something else weighs on both alike;
    // the median of the slice ratios is the figure least moved by a burst of other work.
    long plain_count = 0, tool_count = 0;
    std::vector<double> ratios;
    for (int i = 0; i < Rounds; ++i) {
        const int p = plain.run(Slice_Ms);
        const int q = tool.run(Slice_Ms);
        plain_count += p;
        tool_count += q;
        if (p > 0) ratios.push_back(double(q) / p);
    }
    std::sort(ratios.begin(), ratios.end());
    const double seconds = Rounds * Slice_Ms / 1000.0;
    const double plain_rate = plain_count / seconds;
    const double tool_rate = tool_count / seconds;
    const double median = ratios.empty() ? 0 : ratios[ratios.size() / 2];

    std::printf(
        "bench_exchange: %d slices of %d ms each, one byte out and its one-byte answer in\n",
        Rounds, Slice_Ms);
    std::printf("  plain termios write/poll/read : %9.0f exchanges/s\n", plain_rate);
    std::printf("  Exchange_Byte (Qt port)       : %9.0f exchanges/s\n", tool_rate);
    std::printf("  ratio of the totals           : %9.2f\n", tool_rate / plain_rate);
    std::printf("  median ratio of the slices    : %9.2f (goal >= 0.5)\n", median);
    if (tool.failed) std::printf("  failed exchanges              : %9d\n", tool.failed);
    return 0;
}
