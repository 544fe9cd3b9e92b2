// The simulated board, driven through its published link with plain POSIX calls, as a
// serial port would see it.
#include "tools/loopsim/board.h"
#include "tools/loopsim/console.h"
#include "tools/loopsim/loop.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

using loopsim::Board;
using loopsim::Detector;
using loopsim::Loop;

namespace {

using Bytes = QByteArray;

Bytes bytes(std::initializer_list<int> list) {
    Bytes b;
    for (int v : list)
        b.append(char(v));
    return b;
}

// The PC end of the line: the terminal opened through the link, raw, non-blocking.
class Line {
  public:
    explicit Line(const QString& path) {
        fd_ = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd_ < 0) return;
        termios tio{};
        ::tcgetattr(fd_, &tio);
        ::cfmakeraw(&tio);
        ::cfsetispeed(&tio, B9600);
        ::cfsetospeed(&tio, B9600);
        ::tcsetattr(fd_, TCSANOW, &tio);
    }
    ~Line() {
        if (fd_ >= 0) ::close(fd_);
    }
    bool ok() const { return fd_ >= 0; }

    void send(uint8_t b) { QCOMPARE(::write(fd_, &b, 1), ssize_t(1)); }

    // Reads until `count` bytes have come or `ms` have passed, letting the in-process board
    // run meanwhile. hung is set when the terminal has been hung up.
    Bytes read(int count, int ms, bool* hung = nullptr) {
        Bytes got;
        QElapsedTimer clock;
        clock.start();
        for (;;) {
            drain(&got, hung);
            if (got.size() >= count || clock.elapsed() >= ms || (hung && *hung)) return got;
            QEventLoop loop;
            QSocketNotifier notifier(fd_, QSocketNotifier::Read);
            QObject::connect(&notifier, &QSocketNotifier::activated, &loop, &QEventLoop::quit);
            QTimer::singleShot(std::max<qint64>(1, ms - clock.elapsed()), &loop, &QEventLoop::quit);
            loop.exec();
        }
    }

    // Everything that comes within ms.
    Bytes quiet(int ms) { return read(1 << 20, ms); }

    Bytes exchange(uint8_t b, int count, int ms = 1000) {
        send(b);
        return read(count, ms);
    }

    // The four bytes of a frame, each only after the answer to the previous one; returns
    // every byte answered.
    Bytes frame(int header, int p0, int p1, int p2, int reply_len = 2) {
        Bytes all;
        const int out[4] = {header, p0, p1, p2};
        for (int i = 0; i < 4; ++i) {
            const Bytes r = exchange(uint8_t(out[i]), i < 3 ? 1 : reply_len);
            all += r;
            if (i < 3 && r != Bytes(1, char(out[i]))) break;
        }
        return all;
    }

  private:
    void drain(Bytes* got, bool* hung) {
        char buf[256];
        for (;;) {
            const ssize_t n = ::read(fd_, buf, sizeof buf);
            if (n > 0) {
                got->append(buf, int(n));
                continue;
            }
            if (n < 0 && errno == EIO && hung) *hung = true;
            if (n == 0 && hung) *hung = true;
            return;
        }
    }
    int fd_ = -1;
};

// A small loop whose every byte the tests know.
Loop test_loop() {
    Loop l;
    l.version = 0x31;
    l.status = 0x00;
    Detector a;
    a.type_code = 0x1A;
    a.pcb_version = 0x21;
    a.soft_version = 0x42;
    a.serial = {7, 12, 200, 44};
    a.params = {{1, 40}, {2, 8}, {3, 3}, {4, 5}, {5, 20}, {6, 1}, {7, 4}, {12, 100}, {15, 12}};
    a.mode = 0x04;
    a.pending_mode = 0x04;
    a.state = 0x08;
    l.detectors[1] = a;

    Detector b;
    b.type_code = 0x13;
    b.serial = {1, 2, 3, 4};
    b.params = {{1, 41}};
    b.refused.insert(0x18);
    b.silent.insert(0x15);
    b.poll_status = 0x01;
    b.state = 0x01;
    l.detectors[2] = b;

    Detector c;
    c.type_code = 0x42;
    c.probe_refusals = 2;
    c.second_accepts = true;
    c.phases.remove(1);
    l.detectors[3] = c;

    Detector e; // sits at 0x40 so the address byte looks like a header
    e.type_code = 0x21;
    l.detectors[0x40] = e;
    return l;
}

} // namespace

class Tst_Loopsim : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    std::unique_ptr<Board> board_;
    std::unique_ptr<Line> line_;

    void start(const Loop& loop = test_loop()) {
        line_.reset();
        board_ = std::make_unique<Board>(loop);
        QString error;
        QVERIFY2(board_->start(dir_.path(), 3, &error), qPrintable(error));
        line_ = std::make_unique<Line>(board_->link_path());
        QVERIFY(line_->ok());
    }

  private slots:
    void cleanup() {
        line_.reset();
        board_.reset();
    }

    void single_byte_commands_data() {
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("rearm");
        QTest::addColumn<int>("command");
        QTest::addColumn<Bytes>("answer");
        QTest::newRow("probe") << 0 << true << 0x01 << bytes({0x01});
        QTest::newRow("version") << 0 << true << 0x02 << bytes({0x31});
        QTest::newRow("status clear") << 0 << true << 0x08 << bytes({0x00});
        QTest::newRow("status short circuit") << 0x10 << true << 0x08 << bytes({0x10});
        QTest::newRow("re-arm 4") << 0 << true << 0x04 << bytes({0x04});
        QTest::newRow("re-arm 3") << 0 << true << 0x03 << bytes({0x03});
        QTest::newRow("re-arm 4 unanswered") << 0 << false << 0x04 << Bytes();
        QTest::newRow("re-arm 3 unanswered") << 0 << false << 0x03 << Bytes();
        QTest::newRow("0x00 unknown") << 0 << true << 0x00 << Bytes();
        QTest::newRow("0x05 unknown") << 0 << true << 0x05 << Bytes();
        QTest::newRow("0x44 not a header") << 0 << true << 0x44 << Bytes();
        QTest::newRow("0x10 unknown alone") << 0 << true << 0x10 << Bytes();
        QTest::newRow("0xFF unknown") << 0 << true << 0xFF << Bytes();
    }
    void single_byte_commands() {
        QFETCH(int, status);
        QFETCH(bool, rearm);
        QFETCH(int, command);
        QFETCH(Bytes, answer);
        Loop l = test_loop();
        l.status = uint8_t(status);
        l.rearm_answers = rearm;
        start(l);
        const Bytes got = answer.isEmpty() ? (line_->send(uint8_t(command)), line_->quiet(60))
                                           : line_->exchange(uint8_t(command), 1);
        QCOMPARE(got, answer);
        // The board is not left inside a frame: a probe still answers.
        QCOMPARE(line_->exchange(0x01, 1), bytes({0x01}));
    }

    void frames_data() {
        QTest::addColumn<Bytes>("frame");
        QTest::addColumn<Bytes>("reply");
        QTest::newRow("type") << bytes({0x40, 0x13, 1, 0}) << bytes({0, 0x1A});
        QTest::newRow("pcb version") << bytes({0x40, 0x14, 1, 0}) << bytes({0, 0x21});
        QTest::newRow("soft version") << bytes({0x40, 0x15, 1, 0}) << bytes({0, 0x42});
        QTest::newRow("serial S0") << bytes({0x40, 0x08, 1, 0}) << bytes({0, 7});
        QTest::newRow("serial S1") << bytes({0x40, 0x09, 1, 0}) << bytes({0, 12});
        QTest::newRow("serial S2") << bytes({0x40, 0x0A, 1, 0}) << bytes({0, 200});
        QTest::newRow("serial S3") << bytes({0x40, 0x0B, 1, 0}) << bytes({0, 44});
        QTest::newRow("param 1") << bytes({0x40, 0x01, 1, 0}) << bytes({0, 40});
        QTest::newRow("param 7") << bytes({0x40, 0x07, 1, 0}) << bytes({0, 4});
        QTest::newRow("param 12") << bytes({0x40, 0x0C, 1, 0}) << bytes({0, 100});
        QTest::newRow("param 15") << bytes({0x40, 0x0F, 1, 0}) << bytes({0, 12});
        QTest::newRow("param missing") << bytes({0x40, 0x02, 2, 0}) << bytes({1, 0});
        QTest::newRow("mode") << bytes({0x40, 0x18, 1, 0}) << bytes({0, 0x04});
        QTest::newRow("mode refused") << bytes({0x40, 0x18, 2, 0}) << bytes({1, 0});
        QTest::newRow("poll fault") << bytes({0x40, 0x10, 1, 0}) << bytes({0, 0x08});
        QTest::newRow("poll com fault") << bytes({0x40, 0x10, 2, 0}) << bytes({1, 0x01});
        QTest::newRow("led on") << bytes({0x41, 0x82, 1, 0x03}) << bytes({0, 0});
        QTest::newRow("led off") << bytes({0x41, 0x82, 1, 0x00}) << bytes({0, 0});
        QTest::newRow("led other") << bytes({0x41, 0x82, 1, 0x07}) << bytes({1, 0});
        QTest::newRow("unknown code") << bytes({0x40, 0x77, 1, 0}) << bytes({1, 0});
        QTest::newRow("absent type") << bytes({0x40, 0x13, 9, 0}) << bytes({1, 0});
        QTest::newRow("absent poll") << bytes({0x40, 0x10, 128, 0}) << bytes({1, 0});
        QTest::newRow("absent led") << bytes({0x41, 0x82, 9, 0x03}) << bytes({1, 0});
        QTest::newRow("address 0x40") << bytes({0x40, 0x13, 0x40, 0}) << bytes({0, 0x21});
        QTest::newRow("header 0x42") << bytes({0x42, 0x13, 1, 0}) << bytes({0, 0x1A, 0});
        QTest::newRow("header 0x43") << bytes({0x43, 0x14, 1, 0}) << bytes({0, 0x21, 0});
    }
    void frames() {
        QFETCH(Bytes, frame);
        QFETCH(Bytes, reply);
        start();
        const Bytes got = line_->frame(uint8_t(frame[0]), uint8_t(frame[1]), uint8_t(frame[2]),
                                       uint8_t(frame[3]), int(reply.size()));
        QCOMPARE(got, frame.left(3) + reply);
        QCOMPARE(line_->quiet(30), Bytes());
        QCOMPARE(board_->frames_answered(), 1);
    }

    void frame_code_without_answer() {
        start();
        QCOMPARE(line_->frame(0x40, 0x15, 2, 0), bytes({0x40, 0x15, 2}));
        QCOMPARE(line_->quiet(60), Bytes());
        // The frame ended with its last byte: the next header opens a new one.
        QCOMPARE(line_->frame(0x40, 0x13, 2, 0), bytes({0x40, 0x13, 2, 0, 0x13}));
    }

    // Address 3 answers in phase 2 only, refuses its first two probes, accepts second attempts.
    void search_probes() {
        start();
        const auto probe = [this](int p0, int address) {
            return line_->frame(0x41, p0, address, 0x01).mid(3);
        };
        const auto second = [this](int p0, int address) {
            return line_->frame(0x41, p0, 0xC8, address).mid(3);
        };
        QCOMPARE(probe(0x81, 1), bytes({0, 0}));
        QCOMPARE(second(0x81, 1), bytes({1, 0})); // present, but second attempts refused
        QCOMPARE(probe(0x88, 1), bytes({0, 0}));
        QCOMPARE(probe(0x81, 3), bytes({1, 0})); // wrong phase
        QCOMPARE(second(0x81, 3), bytes({1, 0}));
        QCOMPARE(probe(0x88, 3), bytes({1, 0}));
        QCOMPARE(second(0x88, 3), bytes({0, 0}));
        QCOMPARE(probe(0x88, 3), bytes({1, 0}));
        QCOMPARE(second(0x88, 3), bytes({0, 0}));
        QCOMPARE(probe(0x88, 3), bytes({0, 0}));
        QCOMPARE(probe(0x88, 3), bytes({0, 0}));
        QCOMPARE(probe(0x81, 4), bytes({1, 0})); // absent
        QCOMPARE(second(0x81, 4), bytes({1, 0}));
        QCOMPARE(probe(0x88, 4), bytes({1, 0}));
        QCOMPARE(second(0x88, 4), bytes({1, 0}));
        // The re-arm restarts the loop: the refusals come again.
        QCOMPARE(line_->exchange(0x04, 1), bytes({0x04}));
        QCOMPARE(line_->exchange(0x03, 1), bytes({0x03}));
        QCOMPARE(probe(0x88, 3), bytes({1, 0}));
    }

    void mode_write_then_commit() {
        start();
        QList<QPair<int, int>> written, committed;
        connect(board_.get(), &Board::mode_written, this, [&](int a, quint8 m) {
            written.append({a, m});
        });
        connect(board_.get(), &Board::mode_committed, this, [&](int a, quint8 m) {
            committed.append({a, m});
        });
        QCOMPARE(line_->frame(0x41, 0x85, 1, 0x00).mid(3), bytes({0, 0})); // nothing pending
        QCOMPARE(line_->frame(0x41, 0x96, 1, 0x02).mid(3), bytes({0, 0}));
        QCOMPARE(line_->frame(0x40, 0x18, 1, 0x00).mid(3), bytes({0, 0x04}));
        QCOMPARE(line_->frame(0x41, 0x85, 1, 0x00).mid(3), bytes({0, 0}));
        QCOMPARE(line_->frame(0x40, 0x18, 1, 0x00).mid(3), bytes({0, 0x02}));
        QCOMPARE(board_->loop().detectors[1].mode, uint8_t(0x02));
        QCOMPARE(written, (QList<QPair<int, int>>{{1, 2}}));
        QCOMPARE(committed, (QList<QPair<int, int>>{{1, 2}}));
        QCOMPARE(line_->frame(0x41, 0x96, 9, 0x01).mid(3), bytes({1, 0})); // absent
    }

    void led_state() {
        start();
        QList<QPair<int, bool>> switched;
        connect(board_.get(), &Board::led_switched, this, [&](int a, bool on) {
            switched.append({a, on});
        });
        line_->frame(0x41, 0x82, 1, 0x03);
        QVERIFY(board_->loop().detectors[1].led);
        line_->frame(0x41, 0x82, 2, 0x03);
        line_->frame(0x41, 0x82, 1, 0x00);
        QVERIFY(!board_->loop().detectors[1].led);
        QVERIFY(board_->loop().detectors[2].led);
        QCOMPARE(switched, (QList<QPair<int, bool>>{{1, true}, {2, true}, {1, false}}));
    }

    void traffic_record() {
        start();
        line_->exchange(0x01, 1);
        line_->frame(0x40, 0x13, 1, 0x00);
        QCOMPARE(board_->received(), bytes({0x01, 0x40, 0x13, 0x01, 0x00}));
        QCOMPARE(board_->sent(), bytes({0x01, 0x40, 0x13, 0x01, 0x00, 0x1A}));
        board_->clear_traffic();
        QVERIFY(board_->received().isEmpty() && board_->sent().isEmpty());
    }

    void silent_board() {
        start();
        board_->set_silent(true);
        line_->send(0x01);
        line_->send(0x40);
        line_->send(0x13);
        QCOMPARE(line_->quiet(80), Bytes());
        QCOMPARE(board_->received(), bytes({0x01, 0x40, 0x13}));
        board_->set_silent(false);
        // Nothing half-open survives the silence.
        QCOMPARE(line_->frame(0x40, 0x13, 1, 0), bytes({0x40, 0x13, 1, 0, 0x1A}));
    }

    void echo_faults_data() {
        QTest::addColumn<bool>("wrong");
        QTest::addColumn<int>("k");
        QTest::addColumn<Bytes>("answered");
        QTest::newRow("stop at header") << false << 1 << Bytes();
        QTest::newRow("stop at P0") << false << 2 << bytes({0x40});
        QTest::newRow("stop at P1") << false << 3 << bytes({0x40, 0x13});
        QTest::newRow("wrong header") << true << 1 << bytes({0xBF});
        QTest::newRow("wrong P0") << true << 2 << bytes({0x40, 0xEC});
        QTest::newRow("wrong P1") << true << 3 << bytes({0x40, 0x13, 0xFE});
    }
    void echo_faults() {
        QFETCH(bool, wrong);
        QFETCH(int, k);
        QFETCH(Bytes, answered);
        start();
        wrong ? board_->set_wrong_echo(k) : board_->set_echo_stop(k);
        const Bytes got = line_->frame(0x40, 0x13, 1, 0);
        QCOMPARE(got, answered);
        QCOMPARE(line_->quiet(30), Bytes());
        // Single-byte commands are not frame bytes.
        QCOMPARE(line_->exchange(0x01, 1), bytes({0x01}));
        wrong ? board_->set_wrong_echo(0) : board_->set_echo_stop(0);
        // The board dropped the frame itself, so a new one starts at once.
        QCOMPARE(line_->frame(0x40, 0x13, 1, 0), bytes({0x40, 0x13, 1, 0, 0x1A}));
    }

    void echo_stop_holds_for_every_frame() {
        start();
        board_->set_echo_stop(2);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(line_->frame(0x40, 0x13, 1, 0), bytes({0x40}));
    }

    void reply_delay() {
        start();
        board_->set_reply_delay(300);
        QElapsedTimer clock;
        clock.start();
        line_->send(0x01);
        QCOMPARE(line_->read(1, 200), Bytes());
        QCOMPARE(line_->read(1, 2000), bytes({0x01}));
        QVERIFY2(clock.elapsed() >= 295, qPrintable(QString::number(clock.elapsed())));
        board_->set_reply_delay(0);
        QCOMPARE(line_->exchange(0x02, 1, 100), bytes({0x31}));
    }

    void reply_shape_faults_data() {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<Bytes>("probe");
        QTest::addColumn<Bytes>("frame");
        QTest::newRow("garbage") << "garbage" << bytes({0x01, 0xAA, 0x55})
                                 << bytes({0x40, 0xAA, 0x55, 0x13, 0xAA, 0x55, 0x01, 0xAA, 0x55,
                                           0x00, 0x1A, 0xAA, 0x55});
        QTest::newRow("extra") << "extra" << bytes({0x01})
                               << bytes({0x40, 0x13, 0x01, 0x00, 0x1A, 0xE0, 0xE1, 0xE2});
        QTest::newRow("short") << "short" << bytes({0x01}) << bytes({0x40, 0x13, 0x01, 0x00});
    }
    void reply_shape_faults() {
        QFETCH(QString, fault);
        QFETCH(Bytes, probe);
        QFETCH(Bytes, frame);
        start();
        if (fault == "garbage") board_->set_garbage(bytes({0xAA, 0x55}));
        if (fault == "extra") board_->set_extra_bytes(3);
        if (fault == "short") board_->set_short_replies(true);
        line_->send(0x01);
        QCOMPARE(line_->quiet(40), probe);
        Bytes all;
        for (int b : {0x40, 0x13, 0x01, 0x00}) {
            line_->send(uint8_t(b));
            all += line_->quiet(40);
        }
        QCOMPARE(all, frame);
    }

    void hang_up_and_come_back() {
        start();
        board_->hang_up();
        QVERIFY(board_->hung_up());
        bool hung = false;
        line_->read(1, 500, &hung);
        QVERIFY(hung);
        QVERIFY(QFileInfo(board_->link_path()).isSymLink());
        QString error;
        QVERIFY2(board_->come_back(&error), qPrintable(error));
        QVERIFY(!board_->hung_up());
        QCOMPARE(QFile::symLinkTarget(board_->link_path()),
                 QFileInfo(board_->terminal_path()).canonicalFilePath());
        line_ = std::make_unique<Line>(board_->link_path());
        QVERIFY(line_->ok());
        QCOMPARE(line_->exchange(0x01, 1), bytes({0x01}));
        QCOMPARE(line_->frame(0x40, 0x13, 1, 0), bytes({0x40, 0x13, 1, 0, 0x1A}));
    }

    // A frame the tool gave up on (an echo lost on the way) is dropped after a silence.
    void resync_after_abandoned_frame() {
        start();
        QCOMPARE(line_->exchange(0x40, 1), bytes({0x40}));
        QCOMPARE(line_->exchange(0x13, 1), bytes({0x13}));
        // Within the silence the next byte still belongs to the frame.
        QCOMPARE(line_->exchange(0x41, 1), bytes({0x41}));
        QTest::qWait(1100);
        QCOMPARE(line_->frame(0x40, 0x14, 1, 0), bytes({0x40, 0x14, 1, 0, 0x21}));
    }

    // A slow echo the tool still takes keeps the frame open; one after its 2000 ms time-out
    // does not, and the tool's next byte is the header of a new frame.
    void slow_echo_data() {
        QTest::addColumn<int>("delay");
        QTest::addColumn<Bytes>("rest");
        QTest::addColumn<Bytes>("answers");
        QTest::newRow("in time") << 1200 << bytes({0x13, 0x01, 0x00})
                                 << bytes({0x40, 0x13, 0x01, 0x00, 0x1A});
        QTest::newRow("too late") << 2050 << bytes({0x40, 0x13, 0x01, 0x00})
                                  << bytes({0x40, 0x40, 0x13, 0x01, 0x00, 0x1A});
    }
    void slow_echo() {
        QFETCH(int, delay);
        QFETCH(Bytes, rest);
        QFETCH(Bytes, answers);
        start();
        board_->set_reply_delay(delay);
        line_->send(0x40);
        Bytes got = line_->read(1, 2000);
        board_->set_reply_delay(0);
        for (char b : rest) {
            line_->send(uint8_t(b));
            got += line_->read(1, 1000);
        }
        got += line_->quiet(30);
        QCOMPARE(got, answers);
    }

    void link_lifecycle() {
        const QString link = dir_.filePath("COM3");
        QFile::remove(link);
        QVERIFY(QFile::link("/nonexistent/pts", link));
        start();
        QCOMPARE(board_->link_path(), QFileInfo(link).absoluteFilePath());
        QCOMPARE(QFile::symLinkTarget(link),
                 QFileInfo(board_->terminal_path()).canonicalFilePath());
        QVERIFY(board_->running());
        line_.reset();
        board_->stop();
        QVERIFY(!board_->running());
        QVERIFY(!QFileInfo(link).isSymLink());
        QVERIFY(board_->start(dir_.path(), 3));
        QVERIFY(QFileInfo(link).isSymLink());
        board_.reset();
        QVERIFY(!QFileInfo(link).isSymLink());
    }

    void paced_reply_takes_three_byte_times() {
        start();
        board_->set_paced(true);
        line_->frame(0x40, 0x13, 1, 0x00); // warm up
        QElapsedTimer clock;
        clock.start();
        line_->exchange(0x40, 1);
        line_->exchange(0x13, 1);
        line_->exchange(0x01, 1);
        clock.restart();
        line_->send(0x00);
        const Bytes reply = line_->read(2, 1000);
        const qint64 ns = clock.nsecsElapsed();
        QCOMPARE(reply, bytes({0x00, 0x1A}));
        // 1 byte in, 2 bytes out at 1.0417 ms each.
        QVERIFY2(ns >= 3100000, qPrintable(QString::number(ns)));
        QVERIFY2(ns < 500000000, qPrintable(QString::number(ns)));
    }

    void trace_lines() {
        start();
        QBuffer trace;
        trace.open(QIODevice::ReadWrite);
        board_->set_trace(&trace);
        line_->exchange(0x02, 1);
        board_->set_trace(nullptr);
        const QStringList lines = QString::fromLatin1(trace.data()).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 2);
        const QRegularExpression in(R"(^\s*\d+\.\d{3} PC> 02$)"), out(R"(^\s*\d+\.\d{3} <BD 31$)");
        QVERIFY2(in.match(lines[0]).hasMatch(), qPrintable(lines[0]));
        QVERIFY2(out.match(lines[1]).hasMatch(), qPrintable(lines[1]));
    }

    void script_runs_from_first_poll() {
        Loop l = test_loop();
        l.script = {{0.15, 1, 0x01, 0x00}, {0.15, 99, 0x01, 0x00}, {0.3, 1, 0x00, 0x01}};
        start(l);
        QList<int> changed;
        connect(board_.get(), &Board::point_changed, this,
                [&](int a, quint8, quint8) { changed.append(a); });
        QTest::qWait(250); // the script clock has not started yet
        QCOMPARE(line_->frame(0x40, 0x10, 1, 0).mid(3), bytes({0, 0x08}));
        QTest::qWait(200);
        QCOMPARE(line_->frame(0x40, 0x10, 1, 0).mid(3), bytes({0, 0x01}));
        QTest::qWait(200);
        QCOMPARE(line_->frame(0x40, 0x10, 1, 0).mid(3), bytes({1, 0x00}));
        QCOMPARE(changed, (QList<int>{1, 1})); // address 99 is not on the loop
    }

    void random_faults() {
        const auto run = [this](quint32 seed) {
            start();
            board_->set_random_faults(seed, 0.5, {"silent", "wrong", "garbage", "extra", "short"});
            for (int i = 0; i < 30; ++i) {
                line_->send(0x01);
                line_->quiet(15);
            }
            return board_->faults_injected();
        };
        const auto a = run(7);
        const auto b = run(7);
        QCOMPARE(a, b);
        int total = 0;
        for (int n : a)
            total += n;
        QVERIFY(total > 3 && total < 27);
        QVERIFY(!a.contains("extra") && !a.contains("short")); // no frame reply to spoil
        QVERIFY(!a.contains("hangup"));

        start();
        board_->set_random_faults(1, 1.0, {"hangup"});
        line_->send(0x01);
        bool hung = false;
        line_->read(1, 500, &hung);
        QVERIFY(hung);
        QCOMPARE(board_->faults_injected().value("hangup"), 1);
        QTRY_VERIFY_WITH_TIMEOUT(!board_->hung_up(), 3000);
        board_->set_random_faults(1, 0);
        line_ = std::make_unique<Line>(board_->link_path());
        QCOMPARE(line_->exchange(0x01, 1), bytes({0x01}));
    }

    void parse_good_file() {
        const QByteArray json = R"({
            "version": "0x3A", "status": 16, "rearm": false,
            "comment": "two heads",
            "detectors": [
                {"address": 1, "type": "0x1A", "pcb": "0x12", "soft": 49,
                 "serial": [7, "0x0C", 1, 44], "params": {"1": 40, "0x0C": "100", "15": 12},
                 "mode": 4, "state": "fault", "status": 1, "probe_refusals": 2,
                 "second_accepts": true, "phases": [2], "refused": ["0x18", 19],
                 "silent": ["0x15"], "led": true},
                {"address": 2}
            ],
            "script": [{"at": 5, "address": 2, "state": "alarm"},
                       {"at": 1.5, "address": 1, "state": 6, "status": "0x01"},
                       {"at": 7, "address": 2, "state": "standby"}]
        })";
        QTemporaryDir tmp;
        QFile f(tmp.filePath("loop.json"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(json);
        f.close();
        Loop l;
        QString error;
        QVERIFY2(loopsim::load_loop(f.fileName(), &l, &error), qPrintable(error));
        QCOMPARE(l.version, uint8_t(0x3A));
        QCOMPARE(l.status, uint8_t(0x10));
        QCOMPARE(l.rearm_answers, false);
        QCOMPARE(int(l.detectors.size()), 2);
        const Detector& d = l.detectors.at(1);
        QCOMPARE(d.type_code, uint8_t(0x1A));
        QCOMPARE(d.pcb_version, uint8_t(0x12));
        QCOMPARE(d.soft_version, uint8_t(0x31));
        QCOMPARE(d.serial, (std::array<uint8_t, 4>{7, 12, 1, 44}));
        QCOMPARE(d.params, (std::map<uint8_t, uint8_t>{{1, 40}, {12, 100}, {15, 12}}));
        QCOMPARE(d.mode, uint8_t(4));
        QCOMPARE(d.state, uint8_t(0x08));
        QCOMPARE(d.poll_status, uint8_t(1));
        QCOMPARE(d.probe_refusals, 2);
        QVERIFY(d.second_accepts && d.led);
        QCOMPARE(d.phases, QSet<int>{2});
        QCOMPARE(d.refused, (QSet<int>{0x18, 0x13}));
        QCOMPARE(d.silent, QSet<int>{0x15});
        const Detector& plain = l.detectors.at(2);
        QCOMPARE(plain.phases, (QSet<int>{1, 2}));
        QVERIFY(plain.params.empty() && plain.refused.isEmpty());
        // In time order, whatever the file's order.
        QCOMPARE(l.script.size(), 3);
        QCOMPARE(l.script[0].at_seconds, 1.5);
        QCOMPARE(l.script[0].state, uint8_t(6));
        QCOMPARE(l.script[0].poll_status, uint8_t(1));
        QCOMPARE(l.script[1].state, uint8_t(0x01));
        QCOMPARE(l.script[2].state, uint8_t(0x00));
    }

    void parse_range() {
        Loop l;
        QString error;
        const auto doc = QJsonDocument::fromJson(R"({"detectors": [
            {"from": 1, "to": 128, "type": "0x13", "phases": [1]},
            {"address": 64, "type": "0x42"}]})");
        QVERIFY2(loopsim::parse_loop(doc.object(), &l, &error), qPrintable(error));
        QCOMPARE(int(l.detectors.size()), 128);
        QCOMPARE(l.detectors.begin()->first, 1);
        QCOMPARE(l.detectors.rbegin()->first, 128);
        QCOMPARE(l.detectors.at(63).type_code, uint8_t(0x13));
        QCOMPARE(l.detectors.at(64).type_code, uint8_t(0x42));
        QCOMPARE(l.detectors.at(128).phases, QSet<int>{1});

        const auto top = QJsonDocument::fromJson(
            R"({"range": {"from": 5, "to": 7, "type": 25}, "detectors": [{"address": 6}]})");
        QVERIFY2(loopsim::parse_loop(top.object(), &l, &error), qPrintable(error));
        QCOMPARE(int(l.detectors.size()), 3);
        QCOMPARE(l.detectors.at(5).type_code, uint8_t(0x19));
        QCOMPARE(l.detectors.at(6).type_code, uint8_t(0x13)); // the single entry wins
    }

    void parse_bad_files_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("names");
        QTest::newRow("not json") << QByteArray("{\"detectors\": [") << "offset";
        QTest::newRow("empty") << QByteArray("") << "";
        QTest::newRow("top list") << QByteArray("[1, 2]") << "object";
        QTest::newRow("address 0")
            << QByteArray(R"({"detectors": [{"address": 0}]})") << "detectors[0].address";
        QTest::newRow("address 129")
            << QByteArray(R"({"detectors": [{"address": 129}]})") << "detectors[0].address";
        QTest::newRow("no address")
            << QByteArray(R"({"detectors": [{"type": 19}]})") << "detectors[0]";
        QTest::newRow("byte 256") << QByteArray(R"({"detectors": [{"address": 1, "type": 256}]})")
                                  << "detectors[0].type";
        QTest::newRow("negative") << QByteArray(R"({"version": -1})") << "version";
        QTest::newRow("fraction") << QByteArray(R"({"status": 1.5})") << "status";
        QTest::newRow("bad hex") << QByteArray(R"({"version": "0xZZ"})") << "version";
        QTest::newRow("serial 3") << QByteArray(
                                         R"({"detectors": [{"address": 1, "serial": [1,2,3]}]})")
                                  << "serial";
        QTest::newRow("param code 16")
            << QByteArray(R"({"detectors": [{"address": 1, "params": {"16": 1}}]})") << "params.16";
        QTest::newRow("phase 3") << QByteArray(R"({"detectors": [{"address": 1, "phases": [3]}]})")
                                 << "phases[0]";
        QTest::newRow("unknown key")
            << QByteArray(R"({"detectors": [{"address": 1, "typo": 1}]})") << "typo";
        QTest::newRow("state word")
            << QByteArray(R"({"script": [{"at": 1, "address": 1, "state": "burning"}]})")
            << "script[0].state";
        QTest::newRow("script no time")
            << QByteArray(R"({"script": [{"address": 1}]})") << "script[0]";
        QTest::newRow("negative time")
            << QByteArray(R"({"script": [{"at": -1, "address": 1}]})") << "script[0].at";
        QTest::newRow("to below from")
            << QByteArray(R"({"detectors": [{"from": 9, "to": 3}]})") << "detectors[0]";
        QTest::newRow("rearm word") << QByteArray(R"({"rearm": "yes"})") << "rearm";
        QTest::newRow("detectors object") << QByteArray(R"({"detectors": {}})") << "detectors";
    }
    void parse_bad_files() {
        QFETCH(QByteArray, text);
        QFETCH(QString, names);
        QTemporaryDir tmp;
        QFile f(tmp.filePath("bad.json"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(text);
        f.close();
        Loop l = test_loop();
        QString error;
        QVERIFY(!loopsim::load_loop(f.fileName(), &l, &error));
        QVERIFY2(error.contains(names), qPrintable(error));
        QVERIFY(error.startsWith(f.fileName()));
        QCOMPARE(int(l.detectors.size()), 4); // untouched
    }

    void missing_file() {
        Loop l;
        QString error;
        QVERIFY(!loopsim::load_loop(dir_.filePath("none.json"), &l, &error));
        QVERIFY(!error.isEmpty());
    }

    // The demo loop is what a person sees first: the search must find it whole and every
    // type of detector must be on it.
    void default_loop_content() {
        const Loop l = loopsim::default_loop();
        const int n = int(l.detectors.size());
        QVERIFY(n >= 18 && n <= 24);
        QCOMPARE(l.detectors.begin()->first, 1);
        QCOMPARE(l.detectors.rbegin()->first, n); // contiguous
        QSet<int> types;
        int longest_run_42 = 0, run = 0;
        bool high_serial = false;
        for (const auto& [a, d] : l.detectors) {
            types.insert(d.type_code);
            run = d.type_code == 0x42 ? run + 1 : 0;
            longest_run_42 = std::max(longest_run_42, run);
            high_serial |= d.serial[2] >= 128;
            QVERIFY(d.phases.contains(1) && d.phases.contains(2));
            QCOMPARE(d.probe_refusals, 0);
            if (d.type_code == 0x13 || d.type_code == 0x19 || d.type_code == 0x1A)
                for (int code : {1, 2, 3, 4, 5, 6, 7, 12, 15})
                    QVERIFY2(d.params.count(uint8_t(code)), qPrintable(QString::number(a)));
            if (d.type_code == 0x1A) QVERIFY(!d.refused.contains(0x18));
        }
        for (int t : {0x13, 0x19, 0x1A, 0x17, 0x21, 0x42})
            QVERIFY(types.contains(t));
        QVERIFY(types.size() >= 7); // and one code the tool does not know
        QCOMPARE(longest_run_42, 9);
        QVERIFY(high_serial);
        QVERIFY(l.version >= 0x30);
        QVERIFY(l.script.size() >= 2);
        QCOMPARE(l.script[0].state, uint8_t(0x01));
        QVERIFY(l.script[0].at_seconds >= 6 && l.script[0].at_seconds <= 10);
        QCOMPARE(l.script[1].state, uint8_t(0x08));
        QVERIFY(l.script[1].at_seconds > l.script[0].at_seconds);
    }

    void console_point_commands_data() {
        QTest::addColumn<QStringList>("commands");
        QTest::addColumn<Bytes>("poll"); // reply to 0x40 0x10 0x01 0x00
        QTest::addColumn<int>("status"); // answer to 0x08
        QTest::newRow("alarm") << QStringList{"alarm 1"} << bytes({0, 0x01}) << 0x00;
        QTest::newRow("fault") << QStringList{"fault 1"} << bytes({0, 0x08}) << 0x00;
        QTest::newRow("comfault") << QStringList{"comfault 1"} << bytes({1, 0x08}) << 0x00;
        QTest::newRow("comfault then clear")
            << QStringList{"comfault 1", "clear 1"} << bytes({0, 0x00}) << 0x00;
        QTest::newRow("comfault then alarm")
            << QStringList{"comfault 1", "alarm 1"} << bytes({0, 0x01}) << 0x00;
        QTest::newRow("short on") << QStringList{"short on"} << bytes({0, 0x08}) << 0x10;
        QTest::newRow("short on off")
            << QStringList{"short on", "short off"} << bytes({0, 0x08}) << 0x00;
        QTest::newRow("bad address")
            << QStringList{"alarm 0", "alarm 129", "alarm x", "alarm"} << bytes({0, 0x08}) << 0x00;
        QTest::newRow("absent address") << QStringList{"alarm 9"} << bytes({0, 0x08}) << 0x00;
        QTest::newRow("bad switch")
            << QStringList{"short maybe", "silent 1"} << bytes({0, 0x08}) << 0x00;
        QTest::newRow("unknown") << QStringList{"explode 1", "", "   "} << bytes({0, 0x08}) << 0x00;
        QTest::newRow("upper case") << QStringList{"ALARM 1"} << bytes({0, 0x01}) << 0x00;
    }
    void console_point_commands() {
        QFETCH(QStringList, commands);
        QFETCH(Bytes, poll);
        QFETCH(int, status);
        start();
        QStringList printed;
        loopsim::Console console(*board_, [&](const QString& s) { printed << s; });
        for (const QString& c : commands)
            QVERIFY(console.execute(c));
        QCOMPARE(line_->frame(0x40, 0x10, 1, 0).mid(3), poll);
        QCOMPARE(line_->exchange(0x08, 1), bytes({status}));
        QVERIFY(printed.size() >= commands.size() - 2);
    }

    void console_faults_and_quit() {
        start();
        QStringList printed;
        loopsim::Console console(*board_, [&](const QString& s) { printed << s; });
        QVERIFY(console.execute("silent on"));
        line_->send(0x01);
        QCOMPARE(line_->quiet(40), Bytes());
        QVERIFY(console.execute("silent off"));
        QVERIFY(console.execute("wrongecho 1"));
        QCOMPARE(line_->exchange(0x40, 1), bytes({0xBF}));
        QVERIFY(console.execute("wrongecho 0"));
        QVERIFY(console.execute("echostop 4")); // out of range: refused, nothing changes
        QVERIFY(console.execute("extra 1"));
        QVERIFY(console.execute("garbage 0x7e"));
        Bytes all;
        for (int b : {0x40, 0x13, 0x01, 0x00}) {
            line_->send(uint8_t(b));
            all += line_->quiet(30);
        }
        QCOMPARE(all, bytes({0x40, 0x7E, 0x13, 0x7E, 0x01, 0x7E, 0x00, 0x1A, 0xE0, 0x7E}));
        QVERIFY(console.execute("garbage"));
        QVERIFY(console.execute("extra 0"));
        QVERIFY(console.execute("shortreply on"));
        QCOMPARE(line_->frame(0x40, 0x13, 1, 0, 1).mid(3), bytes({0x00}));
        QVERIFY(console.execute("shortreply off"));
        QVERIFY(console.execute("hangup"));
        QVERIFY(board_->hung_up());
        QVERIFY(console.execute("back"));
        QVERIFY(!board_->hung_up());
        line_ = std::make_unique<Line>(board_->link_path());
        QCOMPARE(line_->frame(0x41, 0x82, 1, 3).mid(3), bytes({0, 0}));
        QVERIFY(printed.contains("LED 001 ON"));
        printed.clear();
        QVERIFY(console.execute("status"));
        QVERIFY(printed.join('\n').contains("LEDs lit: 001"));
        QVERIFY(!console.execute("quit"));
    }

    void console_fault_options_data() {
        QTest::addColumn<QString>("option");
        QTest::addColumn<bool>("ok");
        QTest::newRow("silent") << "silent" << true;
        QTest::newRow("echostop") << "echostop:2" << true;
        QTest::newRow("wrongecho") << "wrongecho:3" << true;
        QTest::newRow("delay") << "delay:2500" << true;
        QTest::newRow("garbage") << "garbage:AA55" << true;
        QTest::newRow("extra") << "extra:2" << true;
        QTest::newRow("shortreply") << "shortreply" << true;
        QTest::newRow("echostop 0..3") << "echostop:5" << false;
        QTest::newRow("echostop no value") << "echostop" << false;
        QTest::newRow("bad hex") << "garbage:AZ" << false;
        QTest::newRow("unknown") << "melt" << false;
        QTest::newRow("hangup is a command") << "hangup" << false;
    }
    void console_fault_options() {
        QFETCH(QString, option);
        QFETCH(bool, ok);
        start();
        loopsim::Console console(*board_, [](const QString&) {});
        QString error;
        QCOMPARE(console.apply_fault(option, &error), ok);
        QCOMPARE(error.isEmpty(), ok);
    }
};

QTEST_GUILESS_MAIN(Tst_Loopsim)
#include "tst_loopsim.moc"
