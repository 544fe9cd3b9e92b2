// The simulated board, driven through its published link with plain POSIX calls, as a
// serial port would see it.
#include "tools/loopsim/board.h"
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
    for (int v : list) b.append(char(v));
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
            QTimer::singleShot(std::max<qint64>(1, ms - clock.elapsed()), &loop,
                               &QEventLoop::quit);
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
};

QTEST_GUILESS_MAIN(Tst_Loopsim)
#include "tst_loopsim.moc"
