#include "app/quit_signals.h"

#include <QSocketNotifier>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int Watched[] = {SIGTERM, SIGINT, SIGHUP};
constexpr int Watched_Count = sizeof(Watched) / sizeof(Watched[0]);

// Shared with the handler, which may only write to a descriptor.
volatile sig_atomic_t wake_fd = -1;
struct sigaction Previous[Watched_Count];
bool Caught[Watched_Count];

extern "C" void on_signal(int) {
    const int saved = errno;
    const int fd = wake_fd;
    if (fd >= 0) {
        const char byte = 1;
        // A full pipe already holds a wake-up; losing this one changes nothing.
        [[maybe_unused]] const ssize_t n = ::write(fd, &byte, 1);
    }
    errno = saved;
}

bool set_flags(int fd) {
    return ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK) == 0 &&
           ::fcntl(fd, F_SETFD, FD_CLOEXEC) == 0;
}

} // namespace

Quit_Signals::Quit_Signals(std::function<void()> on_quit, QObject* parent)
    : QObject(parent), on_quit_(std::move(on_quit)) {
    if (wake_fd >= 0) return;
    // A pipe rather than a socket pair: the event loop polls it at every wake-up, and a pipe is
    // the cheaper of the two to poll.
    int fds[2];
    if (::pipe(fds) != 0) return;
    if (!set_flags(fds[0]) || !set_flags(fds[1])) {
        ::close(fds[0]);
        ::close(fds[1]);
        return;
    }
    read_fd_ = fds[0];
    write_fd_ = fds[1];
    wake_fd = write_fd_;

    notifier_ = new QSocketNotifier(read_fd_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &Quit_Signals::heard);

    for (int i = 0; i < Watched_Count; ++i) {
        Caught[i] = false;
        if (::sigaction(Watched[i], nullptr, &Previous[i]) != 0) continue;
        if (Previous[i].sa_handler == SIG_IGN) continue;
        struct sigaction on {};
        on.sa_handler = on_signal;
        sigemptyset(&on.sa_mask);
        on.sa_flags = SA_RESTART;
        Caught[i] = ::sigaction(Watched[i], &on, nullptr) == 0;
    }
}

Quit_Signals::~Quit_Signals() {
    if (!notifier_) return;
    for (int i = 0; i < Watched_Count; ++i)
        if (Caught[i]) ::sigaction(Watched[i], &Previous[i], nullptr);
    wake_fd = -1;
    delete notifier_;
    ::close(read_fd_);
    ::close(write_fd_);
}

void Quit_Signals::heard() {
    char buffer[64];
    while (::read(read_fd_, buffer, sizeof buffer) > 0) {
    }
    if (on_quit_) on_quit_();
}

#else

Quit_Signals::Quit_Signals(std::function<void()> on_quit, QObject* parent)
    : QObject(parent), on_quit_(std::move(on_quit)) {}

Quit_Signals::~Quit_Signals() = default;

void Quit_Signals::heard() {}

#endif
