// The anchor of the line benchmarks: what this machine allows for a given exchange of bytes with
// the simulated board, without Qt, an event loop or a window. It replays a script, the tool's
// side of the line as a benchmark recorded it, on a plain termios descriptor: each byte written
// as the tool writes it, its reply awaited with poll (up to the tool's 2000 ms time-out), and
// the protocol's pauses and task ticks kept to the microsecond with an absolute sleep.
//   line_anchor DEVICE SCRIPT
// Script, one step a line:
//   x HH N [RR...]   write byte HH, wait for N reply bytes (RR: what the board answered then)
//   p MS             pause MS ms from now (the tool's Tempo_Wait)
//   k MS             (re)start the task tick, one every MS ms from now
//   t                wait for the next task tick
//   m                mark: the time of this point is reported
// Prints one line: "ANCHOR <ms to the end> <ms to the mark or -1> <exchanges> <time-outs>
// <replies that differ from the script>", the time counted from the first byte written.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr long long Reply_Time_Out_Ns = 2000LL * 1000000;

long long now_ns() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

void sleep_until(long long ns) {
    timespec ts{};
    ts.tv_sec = ns / 1000000000LL;
    ts.tv_nsec = ns % 1000000000LL;
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
    }
}

struct Step {
    char op = 0;
    int value = 0; // the byte, or the milliseconds
    int reply_len = 0;
    std::vector<unsigned char> reply;
};

bool read_script(const char* path, std::vector<Step>* steps) {
    FILE* f = std::fopen(path, "r");
    if (!f) return false;
    char line[4096];
    while (std::fgets(line, sizeof line, f)) {
        Step s;
        char* p = line;
        while (*p == ' ')
            ++p;
        if (*p == '\n' || *p == '#' || *p == 0) continue;
        s.op = *p++;
        char* end = nullptr;
        if (s.op == 'x') {
            s.value = int(std::strtol(p, &end, 16));
            s.reply_len = int(std::strtol(end, &end, 10));
            for (p = end;;) {
                const long b = std::strtol(p, &end, 16);
                if (end == p) break;
                s.reply.push_back((unsigned char)b);
                p = end;
            }
        } else if (s.op == 'p' || s.op == 'k') {
            s.value = int(std::strtol(p, &end, 10));
        } else if (s.op != 't' && s.op != 'm') {
            std::fclose(f);
            return false;
        }
        steps->push_back(s);
    }
    std::fclose(f);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: line_anchor DEVICE SCRIPT\n");
        return 2;
    }
    std::vector<Step> steps;
    if (!read_script(argv[2], &steps)) {
        std::fprintf(stderr, "line_anchor: cannot read the script %s\n", argv[2]);
        return 2;
    }
    const int fd = ::open(argv[1], O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        std::fprintf(stderr, "line_anchor: %s: %s\n", argv[1], std::strerror(errno));
        return 1;
    }
    termios tio{};
    ::tcgetattr(fd, &tio);
    ::cfmakeraw(&tio);
    ::cfsetspeed(&tio, B9600);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    ::tcsetattr(fd, TCSANOW, &tio);
    ::tcflush(fd, TCIOFLUSH);

    long long start = -1, mark = -1, tick_from = 0, tick_ms = 100, ticks = 0;
    int exchanges = 0, time_outs = 0, differ = 0;
    unsigned char buf[64];
    for (const Step& s : steps) {
        switch (s.op) {
        case 'p':
            sleep_until(now_ns() + s.value * 1000000LL);
            break;
        case 'k':
            tick_from = now_ns();
            tick_ms = s.value;
            ticks = 0;
            break;
        case 't': {
            // A tick overdue fires at once and the next one comes a period later, as Qt's do.
            long long due = tick_from + (ticks + 1) * tick_ms * 1000000LL;
            const long long t = now_ns();
            if (due < t) {
                tick_from = t;
                ticks = 0;
                break;
            }
            sleep_until(due);
            ++ticks;
            break;
        }
        case 'm':
            mark = now_ns();
            break;
        case 'x': {
            // Whatever came late belongs to no one: the tool drains it before each request.
            while (::read(fd, buf, sizeof buf) > 0) {
            }
            const unsigned char out = (unsigned char)s.value;
            if (start < 0) start = now_ns();
            if (::write(fd, &out, 1) != 1) {
                std::fprintf(stderr, "line_anchor: write: %s\n", std::strerror(errno));
                return 1;
            }
            ++exchanges;
            std::vector<unsigned char> got;
            const long long deadline = now_ns() + Reply_Time_Out_Ns;
            while (int(got.size()) < s.reply_len) {
                const long long left = deadline - now_ns();
                if (left <= 0) break;
                pollfd pfd{fd, POLLIN, 0};
                timespec ts{left / 1000000000LL, left % 1000000000LL};
                if (::ppoll(&pfd, 1, &ts, nullptr) <= 0) continue;
                const ssize_t n = ::read(fd, buf, sizeof buf);
                for (ssize_t i = 0; i < n; ++i)
                    got.push_back(buf[i]);
            }
            if (int(got.size()) < s.reply_len) ++time_outs;
            if (!s.reply.empty() && got != s.reply) ++differ;
            break;
        }
        default:
            break;
        }
    }
    const long long end = now_ns();
    ::close(fd);
    std::printf("ANCHOR %.3f %.3f %d %d %d\n", (end - start) / 1e6,
                mark < 0 ? -1.0 : (mark - start) / 1e6, exchanges, time_outs, differ);
    return 0;
}
