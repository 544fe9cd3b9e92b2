#include "tools/loopsim/board.h"

#include "tools/loopsim/replay.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QIODevice>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <random>
#include <termios.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/timerfd.h>
#endif

namespace loopsim {

namespace {

// One byte on the line at 9600 baud: start bit, 8 data bits, stop bit.
constexpr qint64 Byte_Ns = 1000000000LL * 10 / 9600;
// The tool gives up on a frame after a 2000 ms silence, so a gap this long after our
// answer means it has.
constexpr qint64 Resync_Ns = 1000LL * 1000 * 1000;
constexpr qint64 Tool_Time_Out_Ns = 2000LL * 1000 * 1000;
// Well past the tool's reply time-out.
constexpr int Random_Delay_Ms = 2200;
constexpr int Random_Hangup_Ms = 300;

constexpr uint8_t State_Alarm = 0x01;
constexpr uint8_t State_Fault = 0x08;

} // namespace

struct Board::Impl {
    Board* q;
    Loop loop;

    QString link;
    QString terminal;
    bool published = false;
    bool in_memory = false;
    bool hung = false;
    int master = -1;
    int slave = -1; // held so the master never reads EIO while the tool has the port closed
    QSocketNotifier* reader = nullptr;
    QSocketNotifier* writer = nullptr;

    QElapsedTimer clock;
    qint64 trace_zero = 0;
    QByteArray received, sent;

    // The open frame: bytes 1..3 (header, P0, P1) received so far.
    int frame_pos = 0;
    uint8_t frame[3] = {0, 0, 0};
    qint64 last_rx_ns = -1;
    qint64 last_answer_ns = -1; // when the answer to the PC's previous byte ends on the line

    bool silent = false;
    int echo_stop = 0;
    int wrong_echo = 0;
    int delay_ms = 0;
    QByteArray garbage;
    int extra = 0;
    bool short_replies = false;
    bool paced = false;
    QIODevice* trace = nullptr;

    struct Out {
        qint64 due_ns;
        char byte;
    };
    std::deque<Out> queue;
    QByteArray unwritten; // accepted for writing, refused by a full terminal buffer
    qint64 rx_free_ns = 0;
    qint64 tx_free_ns = 0;
    int timer_fd = -1;
    QSocketNotifier* timer_notifier = nullptr;
    QTimer fallback_timer;

    std::map<int, int> probes_refused;

    bool script_started = false;
    QElapsedTimer script_clock;
    int script_next = 0;
    QTimer script_timer;

    Replay* replay = nullptr;
    QTimer replay_drop; // a line lost in the trace, due

    int clock_divider = 1;
    bool random_on = false;
    double random_probability = 0;
    QStringList random_kinds;
    std::mt19937 rng;
    QMap<QString, int> injected;
    int frames_answered = 0;
    QTimer come_back_timer;

    explicit Impl(Board* board) : q(board) {
        clock.start();
#ifdef __linux__
        timer_fd = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
        if (timer_fd >= 0) {
            timer_notifier = new QSocketNotifier(timer_fd, QSocketNotifier::Read, q);
            QObject::connect(timer_notifier, &QSocketNotifier::activated, q, [this] {
                uint64_t expirations;
                while (::read(timer_fd, &expirations, sizeof expirations) > 0) {
                }
                pump();
            });
        }
#endif
        fallback_timer.setSingleShot(true);
        fallback_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&fallback_timer, &QTimer::timeout, q, [this] { pump(); });
        script_timer.setSingleShot(true);
        script_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&script_timer, &QTimer::timeout, q, [this] { run_script(); });
        come_back_timer.setSingleShot(true);
        QObject::connect(&come_back_timer, &QTimer::timeout, q, [this] { q->come_back(); });
        replay_drop.setSingleShot(true);
        replay_drop.setTimerType(Qt::PreciseTimer);
        QObject::connect(&replay_drop, &QTimer::timeout, q, [this] {
            q->hang_up();
            come_back_timer.start(std::max(Random_Hangup_Ms / clock_divider, 1));
        });
    }

    ~Impl() {
        if (timer_fd >= 0) ::close(timer_fd);
    }

    qint64 now() const {
        return clock.nsecsElapsed();
    }

    // --- terminal --------------------------------------------------------------------------

    static bool set_error(QString* error, const QString& text) {
        if (error) *error = text + QStringLiteral(": ") + QString::fromLocal8Bit(strerror(errno));
        return false;
    }

    bool open_terminal(QString* error) {
        const int m = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (m < 0) return set_error(error, QStringLiteral("posix_openpt"));
        char name[128];
        if (::grantpt(m) != 0 || ::unlockpt(m) != 0 || ::ptsname_r(m, name, sizeof name) != 0) {
            const bool r = set_error(error, QStringLiteral("pseudo-terminal set-up"));
            ::close(m);
            return r;
        }
        const int s = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (s < 0) {
            const bool r = set_error(error, QStringLiteral("open %1").arg(QLatin1String(name)));
            ::close(m);
            return r;
        }
        termios tio{};
        if (::tcgetattr(s, &tio) == 0) {
            ::cfmakeraw(&tio);
            ::cfsetispeed(&tio, B9600);
            ::cfsetospeed(&tio, B9600);
            ::tcsetattr(s, TCSANOW, &tio);
        }
        ::fcntl(m, F_SETFL, ::fcntl(m, F_GETFL) | O_NONBLOCK);
        ::fcntl(m, F_SETFD, FD_CLOEXEC);
        master = m;
        slave = s;
        terminal = QString::fromLocal8Bit(name);
        reader = new QSocketNotifier(master, QSocketNotifier::Read, q);
        QObject::connect(reader, &QSocketNotifier::activated, q, [this] { on_readable(); });
        writer = new QSocketNotifier(master, QSocketNotifier::Write, q);
        writer->setEnabled(false);
        QObject::connect(writer, &QSocketNotifier::activated, q, [this] { flush_unwritten(); });
        hung = false;
        forget_line();
        return true;
    }

    void close_terminal() {
        delete reader;
        reader = nullptr;
        delete writer;
        writer = nullptr;
        if (master >= 0) ::close(master);
        if (slave >= 0) ::close(slave);
        master = slave = -1;
        forget_line();
    }

    // What was on the line dies with the terminal.
    void forget_line() {
        queue.clear();
        unwritten.clear();
        frame_pos = 0;
        last_rx_ns = -1;
        last_answer_ns = -1;
        rx_free_ns = tx_free_ns = 0;
    }

    // Points the link at the current terminal in one step, so the tool never sees it missing.
    // Only a link to a pseudo-terminal, a simulator's left by a run that was killed, is replaced:
    // anything else at that name (a user's link to a real adapter, a file) is not ours.
    bool publish(QString* error) {
        const QFileInfo standing(link);
        if ((standing.exists() || standing.isSymLink()) &&
            !(standing.isSymLink() &&
              standing.symLinkTarget().startsWith(QLatin1String("/dev/pts/")))) {
            if (error)
                *error = QStringLiteral("%1 is taken by %2, not by a simulator: move it away or "
                                        "choose another --com")
                             .arg(link, standing.isSymLink() ? QStringLiteral("a link to ") +
                                                                   standing.symLinkTarget()
                                                             : QStringLiteral("a file"));
            return false;
        }
        const QString tmp = link + QStringLiteral(".new%1").arg(::getpid());
        const QByteArray tmp8 = QFile::encodeName(tmp);
        ::unlink(tmp8.constData());
        if (::symlink(QFile::encodeName(terminal).constData(), tmp8.constData()) != 0)
            return set_error(error, QStringLiteral("symlink %1").arg(tmp));
        if (::rename(tmp8.constData(), QFile::encodeName(link).constData()) != 0) {
            const bool r = set_error(error, QStringLiteral("rename to %1").arg(link));
            ::unlink(tmp8.constData());
            return r;
        }
        published = true;
        return true;
    }

    void unpublish() {
        if (!published) return;
        published = false;
        const QByteArray path = QFile::encodeName(link);
        char target[512];
        const ssize_t n = ::readlink(path.constData(), target, sizeof target - 1);
        if (n < 0) return;
        // A link that someone else has since pointed at another terminal is theirs.
        if (QByteArray(target, int(n)) == QFile::encodeName(terminal)) ::unlink(path.constData());
    }

    // --- traffic ---------------------------------------------------------------------------

    void trace_byte(const char* direction, uint8_t byte) {
        if (!trace) return;
        const double ms = double(now() - trace_zero) / 1e6;
        trace->write(QString::asprintf("%10.3f %s %02X\n", ms, direction, byte).toLatin1());
    }

    void on_readable() {
        uint8_t buf[256];
        const ssize_t n = ::read(master, buf, sizeof buf);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
        if (n <= 0) {
            // Not expected while our own slave is open; back off instead of spinning.
            if (reader) {
                reader->setEnabled(false);
                QTimer::singleShot(50, q, [this] {
                    if (reader) reader->setEnabled(true);
                });
            }
            return;
        }
        const qint64 t = now();
        for (ssize_t i = 0; i < n && master >= 0; ++i)
            on_byte(buf[i], t);
    }

    void on_byte(uint8_t b, qint64 t) {
        received.append(char(b));
        trace_byte("PC>", b);
        emit q->byte_received(b);
        if (replay) return play(b, t);

        // When the byte has fully arrived, on a paced line.
        qint64 arrived = t;
        if (paced) {
            arrived = std::max(t, rx_free_ns) + Byte_Ns;
            rx_free_ns = arrived;
        }
        // A slow answer is no silence of the PC: count the gap from the later of the two.
        const qint64 idle_from = std::max(last_rx_ns, last_answer_ns);
        if (frame_pos > 0 && idle_from >= 0 && t - idle_from > Resync_Ns / clock_divider)
            frame_pos = 0;
        last_rx_ns = t;
        last_answer_ns = -1;

        if (silent) {
            frame_pos = 0;
            return;
        }

        QByteArray answer;
        int echo_index = 0; // 1..3 for the echoed bytes of a frame
        bool frame_reply = false;
        if (frame_pos == 0) {
            if (b >= 0x40 && b <= 0x43) {
                frame[0] = b;
                frame_pos = 1;
                echo_index = 1;
                answer.append(char(b));
            } else {
                answer = command(b);
            }
        } else if (frame_pos < 3) {
            frame[frame_pos++] = b;
            echo_index = frame_pos;
            answer.append(char(b));
        } else {
            frame_pos = 0;
            frame_reply = true;
            answer = frame_answer(frame[0], frame[1], frame[2], b);
        }

        if (echo_index > 0) {
            if (echo_stop > 0 && echo_index >= echo_stop) {
                answer.clear();
                frame_pos = 0;
            } else if (wrong_echo > 0 && echo_index == wrong_echo) {
                answer[0] = char(~b);
                frame_pos = 0;
            }
        }
        if (answer.isEmpty()) return;

        qint64 extra_delay_ns = 0;
        if (random_on) {
            std::uniform_real_distribution<double> roll(0.0, 1.0);
            if (roll(rng) < random_probability)
                if (!inject(answer, echo_index, frame_reply, &extra_delay_ns)) return;
        }
        if (frame_reply) {
            if (short_replies) answer.truncate(1);
            for (int i = 0; i < extra; ++i)
                answer.append(char(0xE0 + (i & 0x0F)));
            ++frames_answered;
        }
        answer.append(garbage);
        qint64 first_due = 0;
        last_answer_ns =
            schedule(answer, arrived + qint64(delay_ms) * 1000000 + extra_delay_ns, &first_due);
        // An echo that comes after the tool's time-out is one it never sees.
        if (echo_index > 0 && first_due - t >= Tool_Time_Out_Ns / clock_divider) frame_pos = 0;
    }

    // The trace's answer to the byte, at the trace's delays from now. What the previous request
    // still had to come is dropped: the tool has gone past it.
    void play(uint8_t b, qint64 t) {
        const QList<Replay::Out> outs = replay->answer(b);
        queue.clear();
        replay_drop.stop();
        for (const Replay::Out& out : outs) {
            if (out.hang_up) {
                replay_drop.start(int(std::min<qint64>(out.after_ns / 1000000, INT_MAX)));
                continue;
            }
            qint64 first_due = 0;
            const bool was_paced = std::exchange(paced, false);
            schedule(out.bytes, t + out.after_ns, &first_due);
            paced = was_paced;
        }
    }

    // One random fault on this exchange; false when nothing is to be sent.
    bool inject(QByteArray& answer, int echo_index, bool frame_reply, qint64* extra_delay_ns) {
        QStringList kinds = random_kinds.isEmpty() ? fault_kinds() : random_kinds;
        if (!frame_reply) {
            kinds.removeAll(QStringLiteral("extra"));
            kinds.removeAll(QStringLiteral("short"));
        }
        if (kinds.isEmpty()) return true;
        const QString kind = kinds.at(int(rng() % uint32_t(kinds.size())));
        ++injected[kind];
        if (kind == QLatin1String("silent")) {
            frame_pos = 0;
            return false;
        }
        if (kind == QLatin1String("wrong")) {
            answer[0] = char(~uint8_t(answer[0]));
            if (echo_index > 0) frame_pos = 0;
        } else if (kind == QLatin1String("delay")) {
            *extra_delay_ns = qint64(Random_Delay_Ms) * 1000000 / clock_divider;
        } else if (kind == QLatin1String("garbage")) {
            const int n = 1 + int(rng() % 4);
            for (int i = 0; i < n; ++i)
                answer.append(char(rng() & 0xFF));
        } else if (kind == QLatin1String("extra")) {
            const int n = 1 + int(rng() % 3);
            for (int i = 0; i < n; ++i)
                answer.append(char(rng() & 0xFF));
        } else if (kind == QLatin1String("short")) {
            answer.truncate(1);
        } else if (kind == QLatin1String("hangup")) {
            q->hang_up();
            come_back_timer.start(std::max(Random_Hangup_Ms / clock_divider, 1));
            return false;
        }
        return true;
    }

    QByteArray command(uint8_t b) {
        switch (b) {
        case 0x01:
            return QByteArray(1, char(0x01));
        case 0x02:
            return QByteArray(1, char(loop.version));
        case 0x08:
            return QByteArray(1, char(loop.status));
        case 0x04:
            if (!loop.rearm_answers) return {};
            // A re-armed loop starts its detectors afresh.
            probes_refused.clear();
            return QByteArray(1, char(0x04));
        case 0x03:
            if (!loop.rearm_answers) return {};
            return QByteArray(1, char(0x03));
        default:
            return {};
        }
    }

    QByteArray frame_answer(uint8_t header, uint8_t p0, uint8_t p1, uint8_t p2) {
        const bool search = p0 == 0x81 || p0 == 0x88;
        const bool second_attempt = search && p1 == 0xC8;
        const int address = second_attempt ? p2 : p1;
        uint8_t status = 1;
        uint8_t data = 0;

        if (p0 == 0x10) start_script();

        auto it = loop.detectors.find(address);
        if (it != loop.detectors.end()) {
            Detector& d = it->second;
            if (d.silent.contains(p0)) return {};
            if (d.refused.contains(p0)) {
                status = 1;
            } else {
                status = 0;
                switch (p0) {
                case 0x81:
                case 0x88:
                    if (!d.phases.contains(p0 == 0x81 ? 1 : 2))
                        status = 1;
                    else if (second_attempt)
                        status = d.second_accepts ? 0 : 1;
                    else if (probes_refused[address] < d.probe_refusals) {
                        ++probes_refused[address];
                        status = 1;
                    }
                    break;
                case 0x13:
                    data = d.type_code;
                    break;
                case 0x14:
                    data = d.pcb_version;
                    break;
                case 0x15:
                    data = d.soft_version;
                    break;
                case 0x08:
                case 0x09:
                case 0x0A:
                case 0x0B:
                    data = d.serial[size_t(p0 - 0x08)];
                    break;
                case 0x18:
                    data = d.mode;
                    break;
                case 0x10:
                    run_script();
                    status = d.poll_status;
                    data = d.state;
                    break;
                case 0x82:
                    if (p2 == 0x03 || p2 == 0x00) {
                        d.led = p2 == 0x03;
                        emit q->led_switched(address, d.led);
                    } else {
                        status = 1;
                    }
                    break;
                case 0x96:
                    d.pending_mode = p2;
                    d.mode_pending = true;
                    emit q->mode_written(address, p2);
                    break;
                case 0x85:
                    if (d.mode_pending) {
                        d.mode = d.pending_mode;
                        d.mode_pending = false;
                        emit q->mode_committed(address, d.mode);
                    }
                    break;
                default: {
                    auto p = p0 <= 0x0F ? d.params.find(p0) : d.params.end();
                    if (p != d.params.end())
                        data = p->second;
                    else
                        status = 1;
                }
                }
            }
        }
        QByteArray reply;
        reply.append(char(status));
        reply.append(char(data));
        if (header & 0x02) reply.append(char(0x00));
        return reply;
    }

    // --- output ----------------------------------------------------------------------------

    // Queues the bytes in line order; returns when the last one is due.
    qint64 schedule(const QByteArray& bytes, qint64 from_ns, qint64* first_due) {
        qint64 due = from_ns;
        bool first = true;
        for (char c : bytes) {
            if (paced) {
                due = std::max(due, tx_free_ns) + Byte_Ns;
                tx_free_ns = due;
            } else if (!queue.empty()) {
                due = std::max(due, queue.back().due_ns);
            }
            if (first) *first_due = due;
            first = false;
            queue.push_back({due, c});
        }
        pump();
        return due;
    }

    void pump() {
        const qint64 t = now();
        QByteArray chunk;
        while (!queue.empty() && queue.front().due_ns <= t) {
            chunk.append(queue.front().byte);
            queue.pop_front();
        }
        if (!chunk.isEmpty()) write_out(chunk);
        if (!queue.empty()) arm(queue.front().due_ns - t);
    }

    void arm(qint64 in_ns) {
        in_ns = std::max<qint64>(in_ns, 1000);
#ifdef __linux__
        if (timer_fd >= 0) {
            itimerspec when{};
            when.it_value.tv_sec = in_ns / 1000000000;
            when.it_value.tv_nsec = in_ns % 1000000000;
            ::timerfd_settime(timer_fd, 0, &when, nullptr);
            return;
        }
#endif
        fallback_timer.start(int((in_ns + 999999) / 1000000));
    }

    void write_out(const QByteArray& bytes) {
        if (in_memory) {
            if (hung) return;
            sent.append(bytes);
            for (char c : bytes)
                trace_byte("<BD", uint8_t(c));
            emit q->to_tool(bytes);
            return;
        }
        if (master < 0) return;
        unwritten.append(bytes);
        flush_unwritten();
    }

    void flush_unwritten() {
        while (!unwritten.isEmpty() && master >= 0) {
            const ssize_t n = ::write(master, unwritten.constData(), size_t(unwritten.size()));
            if (n < 0) {
                if (errno == EINTR) continue;
                if (errno == EAGAIN && writer) writer->setEnabled(true);
                return;
            }
            for (ssize_t i = 0; i < n; ++i) {
                sent.append(unwritten.at(int(i)));
                trace_byte("<BD", uint8_t(unwritten.at(int(i))));
            }
            unwritten.remove(0, int(n));
        }
        if (writer) writer->setEnabled(false);
    }

    // --- script ----------------------------------------------------------------------------

    void start_script() {
        if (script_started) return;
        script_started = true;
        script_clock.start();
        script_next = 0;
        run_script();
    }

    void run_script() {
        if (!script_started) return;
        const double elapsed = double(script_clock.nsecsElapsed()) / 1e9;
        while (script_next < loop.script.size() &&
               loop.script.at(script_next).at_seconds <= elapsed) {
            const Script_Event& e = loop.script.at(script_next++);
            auto it = loop.detectors.find(e.address);
            if (it == loop.detectors.end()) continue;
            it->second.state = e.state;
            it->second.poll_status = e.poll_status;
            emit q->point_changed(e.address, e.state, e.poll_status);
        }
        if (script_next < loop.script.size()) {
            const double wait = loop.script.at(script_next).at_seconds - elapsed;
            script_timer.start(std::max(0, int(wait * 1000.0 + 0.999)));
        }
    }
};

Board::Board(Loop loop, QObject* parent) : QObject(parent), d(std::make_unique<Impl>(this)) {
    d->loop = std::move(loop);
}

Board::~Board() {
    stop();
}

bool Board::start(const QString& dir, int com_number, QString* error) {
    stop();
    d->link = QDir(dir).absoluteFilePath(QStringLiteral("COM%1").arg(com_number));
    if (!d->open_terminal(error)) return false;
    if (!d->publish(error)) {
        d->close_terminal();
        return false;
    }
    d->trace_zero = d->now();
    return true;
}

void Board::start_in_memory() {
    stop();
    d->in_memory = true;
    d->forget_line();
    d->trace_zero = d->now();
}

void Board::feed(quint8 byte) {
    if (d->in_memory && !d->hung) d->on_byte(byte, d->now());
}

void Board::stop() {
    d->come_back_timer.stop();
    d->close_terminal();
    d->unpublish();
    d->hung = false;
    d->in_memory = false;
}

bool Board::running() const {
    return d->published || d->in_memory;
}
QString Board::link_path() const {
    return d->link;
}
QString Board::terminal_path() const {
    return d->terminal;
}
Loop& Board::loop() {
    return d->loop;
}

QByteArray Board::received() const {
    return d->received;
}
QByteArray Board::sent() const {
    return d->sent;
}
void Board::clear_traffic() {
    d->received.clear();
    d->sent.clear();
}

void Board::set_silent(bool on) {
    d->silent = on;
}
void Board::set_echo_stop(int k) {
    d->echo_stop = std::clamp(k, 0, 3);
}
void Board::set_wrong_echo(int k) {
    d->wrong_echo = std::clamp(k, 0, 3);
}
void Board::set_reply_delay(int ms) {
    d->delay_ms = std::max(0, ms);
}
void Board::set_garbage(const QByteArray& bytes) {
    d->garbage = bytes;
}
void Board::set_extra_bytes(int n) {
    d->extra = std::max(0, n);
}
void Board::set_short_replies(bool on) {
    d->short_replies = on;
}

void Board::hang_up() {
    if (d->in_memory) {
        if (d->hung) return;
        d->hung = true;
        d->forget_line();
        emit line_dropped();
        return;
    }
    if (d->master < 0) return;
    // The system gives a closed terminal's number to the next one opened, perhaps by another
    // program: the link keeps naming the port, but turns first to a name that cannot be opened.
    d->terminal += QStringLiteral(".hung-up");
    d->publish(nullptr);
    d->close_terminal();
    d->hung = true;
}

bool Board::come_back(QString* error) {
    if (d->in_memory) {
        d->come_back_timer.stop();
        d->hung = false;
        d->forget_line();
        emit line_back();
        return true;
    }
    if (!d->published) {
        if (error) *error = QStringLiteral("the board is not started");
        return false;
    }
    d->come_back_timer.stop();
    d->close_terminal();
    if (!d->open_terminal(error)) return false;
    return d->publish(error);
}

bool Board::hung_up() const {
    return d->hung;
}

void Board::set_paced(bool on) {
    d->paced = on;
    d->rx_free_ns = d->tx_free_ns = 0;
}

void Board::set_trace(QIODevice* out) {
    d->trace = out;
}

void Board::set_replay(Replay* replay) {
    d->replay = replay;
    d->queue.clear();
    d->replay_drop.stop();
    if (replay)
        for (const uint8_t request : {0x01, 0x02, 0x08})
            replay->fill_lead_in(request, d->command(request));
}

void Board::set_random_faults(quint32 seed, double probability, const QStringList& kinds) {
    d->rng.seed(seed);
    d->random_probability = std::clamp(probability, 0.0, 1.0);
    d->random_on = d->random_probability > 0;
    d->random_kinds = kinds;
    d->injected.clear();
}

void Board::set_clock_divider(int divider) {
    d->clock_divider = std::max(divider, 1);
}

QStringList Board::fault_kinds() {
    return {QStringLiteral("silent"),  QStringLiteral("wrong"), QStringLiteral("delay"),
            QStringLiteral("garbage"), QStringLiteral("extra"), QStringLiteral("short"),
            QStringLiteral("hangup")};
}

QMap<QString, int> Board::faults_injected() const {
    return d->injected;
}
int Board::frames_answered() const {
    return d->frames_answered;
}

} // namespace loopsim
