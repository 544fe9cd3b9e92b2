// The simulated board, driven through its published link with plain POSIX calls, as a serial
// port would see it, and switched through the console commands a person types.
#include "tools/loopsim/board.h"
#include "tools/loopsim/console.h"
#include "tools/loopsim/loop.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QtTest>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

using loopsim::Board;
using loopsim::Loop;

namespace {

// Every byte the exchanges below expect comes from this description.
const QByteArray Test_Loop = R"({"version": "0x31", "detectors": [
    {"address": 1, "type": "0x1A", "pcb": 33, "soft": "0x42", "serial": [7, 12, 200, 44],
     "params": {"1": 40, "7": 4, "0x0C": 100, "15": 12}, "mode": 4, "state": "fault"},
    {"address": 2, "type": 19, "refused": ["0x18"], "silent": [21], "status": 1},
    {"address": 3, "type": "0x42", "probe_refusals": 2, "second_accepts": true, "phases": [2]},
    {"address": 64, "type": "0x21"}, {"from": 100, "to": 128, "type": "0x17", "phases": [1]},
    {"address": 110, "type": "0x13"}],
  "script": [{"at": 90, "address": 2, "state": "alarm"},
             {"at": 60.5, "address": 1, "state": 6, "status": "0x01"}]})";

QByteArray hex(const char* text) {
    return QByteArray::fromHex(text);
}

} // namespace

class Tst_Loopsim : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    std::unique_ptr<Board> board_;
    int fd_ = -1;
    bool hung_ = false;

    void start() {
        board_ = std::make_unique<Board>(Loop());
        QVERIFY(loopsim::parse_loop(QJsonDocument::fromJson(Test_Loop).object(), &board_->loop(),
                                    nullptr));
        QVERIFY(board_->start(dir_.path(), 3));
        open_line();
    }
    void open_line() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = ::open(QFile::encodeName(board_->link_path()).constData(),
                     O_RDWR | O_NOCTTY | O_NONBLOCK);
        hung_ = false;
        QVERIFY(fd_ >= 0);
    }
    // What comes within ms, returning once `want` bytes have come; the board runs meanwhile.
    QByteArray take(int want, int ms) {
        QByteArray got;
        char buf[256];
        for (QDeadlineTimer end(ms); got.size() < want && !end.hasExpired() && !hung_;
             QTest::qWait(1)) {
            ssize_t n;
            while ((n = ::read(fd_, buf, sizeof buf)) > 0)
                got.append(buf, int(n));
            hung_ |= n == 0 || (n < 0 && errno == EIO);
        }
        return got;
    }
    void send(char b) { QCOMPARE(::write(fd_, &b, 1), ssize_t(1)); }
    // One byte at a time, each after the answer to the previous one, as the tool sends.
    QByteArray talk(const QByteArray& out, int first_ms = 40) {
        QByteArray got;
        for (char b : out) {
            send(b);
            got += take(1, first_ms);
            got += take(1 << 10, 3);
        }
        return got;
    }

  private slots:
    void cleanup() {
        ::close(std::exchange(fd_, -1));
        board_.reset();
    }

    void exchanges_data() {
        QTest::addColumn<QString>("typed"); // console commands, separated by ';'
        QTest::addColumn<QByteArray>("out");
        QTest::addColumn<QByteArray>("in");
        const auto row = [](const char* name, const char* typed, const char* out, const char* in) {
            QTest::newRow(name) << QString(typed) << hex(out) << hex(in);
        };
        row("single bytes, 0x44 no header", "", "01 02 08 04 03 00 05 44 10 FF", "01 31 00 04 03");
        row("short circuit bit", "short on", "08", "10");
        row("versions", "", "40 14 01 00 40 15 01 00", "40 14 01 00 21 40 15 01 00 42");
        row("serial S0, S2", "", "40 08 01 00 40 0A 01 00", "40 08 01 00 07 40 0A 01 00 C8");
        row("parameters 7, 12", "", "40 07 01 00 40 0C 01 00", "40 07 01 00 04 40 0C 01 00 64");
        row("parameter missing", "", "40 02 01 00", "40 02 01 01 00");
        row("mode, refused mode", "", "40 18 01 00 40 18 02 00", "40 18 01 00 04 40 18 02 01 00");
        row("silent code", "", "40 15 02 00", "40 15 02");
        row("mode written, then committed", "", "41 96 01 02 40 18 01 00 41 85 01 00 40 18 01 00",
            "41 96 01 00 00 40 18 01 00 04 41 85 01 00 00 40 18 01 00 02");
        row("poll fault, com fault", "", "40 10 01 00 40 10 02 00",
            "40 10 01 00 08 40 10 02 01 00");
        row("LED on, other value, absent", "", "41 82 01 03 41 82 01 07 41 82 09 03",
            "41 82 01 00 00 41 82 01 01 00 41 82 09 01 00");
        row("unknown code, absent", "", "40 77 01 00 40 13 09 00", "40 77 01 01 00 40 13 09 01 00");
        row("a range, one entry in it", "", "40 13 64 00 40 13 6E 00 40 13 80 00",
            "40 13 64 00 17 40 13 6E 00 13 40 13 80 00 17");
        row("search: both phases by default, range in phase 1", "",
            "41 81 01 01 41 88 01 01 41 81 80 01 41 88 80 01",
            "41 81 01 00 00 41 88 01 00 00 41 81 80 00 00 41 88 80 01 00");
        row("search: wrong phase, second refused", "", "41 81 03 01 41 81 C8 01",
            "41 81 03 01 00 41 81 C8 01 00");
        row("search: two refusals, second attempts", "",
            "41 88 03 01 41 88 C8 03 41 88 03 01 41 88 C8 03 41 88 03 01",
            "41 88 03 01 00 41 88 C8 00 00 41 88 03 01 00 41 88 C8 00 00 41 88 03 00 00");
        row("alarm typed", "alarm 1", "40 10 01 00", "40 10 01 00 01");
        row("com fault typed, cleared", "comfault 1;clear 1", "40 10 01 00", "40 10 01 00 00");
        row("typed off the loop", "alarm 9;alarm 129;alarm x", "40 10 01 00", "40 10 01 00 08");
        // The tool stops sending a frame at a missing or wrong echo.
        row("silent", "silent on", "01 40 13", "");
        row("echo stop at the header", "echostop 1", "40 01", "01");
        row("echo stop at P0, every frame", "echostop 2", "40 13 40 13", "40 40");
        row("echo stop at P1", "echostop 3", "40 13 01", "40 13");
        row("wrong echo of the header", "wrongecho 1", "40 01", "BF 01");
        row("wrong echo of P1", "wrongecho 3", "40 13 01", "40 13 FE");
        row("garbage", "garbage AA 55", "01 40 13 01 00",
            "01 AA 55 40 AA 55 13 AA 55 01 AA 55 00 1A AA 55");
        row("extra bytes", "extra 3", "01 40 13 01 00", "01 40 13 01 00 1A E0 E1 E2");
        row("short replies", "shortreply on", "01 40 13 01 00", "01 40 13 01 00");
    }
    void exchanges() {
        QFETCH(QString, typed);
        QFETCH(QByteArray, out);
        QFETCH(QByteArray, in);
        start();
        loopsim::Console console(*board_, [](const QString&) {});
        for (const QString& line : typed.split(';'))
            console.execute(line);
        QCOMPARE(talk(out), in);
        QCOMPARE(board_->received(), out);
        QCOMPARE(board_->sent(), in);
        // Switched off at run time, no fault leaves a frame half open behind it.
        for (const char* off :
             {"silent off", "echostop 0", "wrongecho 0", "garbage", "extra 0", "shortreply off"})
            console.execute(off);
        QCOMPARE(talk(hex("40 13 01 00")), hex("40 13 01 00 1A"));
    }

    void paced_at_9600_baud() {
        start();
        board_->set_paced(true);
        QCOMPARE(talk(hex("40 13 01")), hex("40 13 01"));
        QElapsedTimer clock;
        clock.start();
        send(0x00);
        QCOMPARE(take(2, 500), hex("00 1A"));
        // One byte in, two out at 1.0417 ms each.
        QVERIFY2(clock.nsecsElapsed() >= 3100000,
                 qPrintable(QString::number(clock.nsecsElapsed())));
    }

    void resync() {
        start();
        loopsim::Console console(*board_, [](const QString&) {});
        // An echo slower than the gap that ends a frame is no silence of the tool.
        console.execute("delay 1050");
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(talk(hex("40"), 1500), hex("40"));
        QVERIFY(clock.elapsed() >= 1050);
        console.execute("delay 0");
        QCOMPARE(talk(hex("13 01 00")), hex("13 01 00 1A"));
        // A frame the tool gave up on is dropped after a second of silence.
        QCOMPARE(talk(hex("40 13")), hex("40 13"));
        QTest::qWait(1100);
        QCOMPARE(talk(hex("40 14 01 00")), hex("40 14 01 00 21"));
        // An echo due at the tool's 2000 ms time-out is one it never sees: the next byte opens
        // a new frame.
        console.execute("delay 2000");
        send(0x40);
        QCOMPARE(take(1, 50), QByteArray());
        console.execute("delay 0");
        for (char b : hex("40 13 01 00"))
            send(b);
        QCOMPARE(take(6, 2500), hex("40 40 13 01 00 1A"));
    }

    void link_hang_up_and_come_back() {
        const QString link = dir_.filePath("COM3");
        QVERIFY(QFile::link("/nonexistent/pts", link)); // left by a run that crashed
        start();
        QCOMPARE(board_->link_path(), QFileInfo(link).absoluteFilePath());
        QCOMPARE(QFile::symLinkTarget(link),
                 QFileInfo(board_->terminal_path()).canonicalFilePath());
        board_->hang_up();
        take(1, 500);
        QVERIFY(hung_);
        // Still a link, to nothing the system could hand to another terminal meanwhile.
        QVERIFY(QFileInfo(link).isSymLink() && !QFileInfo::exists(link));
        QVERIFY(board_->come_back());
        QCOMPARE(QFile::symLinkTarget(link),
                 QFileInfo(board_->terminal_path()).canonicalFilePath());
        open_line();
        QCOMPARE(talk(hex("01 40 13 01 00")), hex("01 40 13 01 00 1A"));
        board_.reset();
        QVERIFY(!QFileInfo(link).isSymLink());
    }

    void json_script_in_time_order() {
        Loop l;
        QVERIFY(loopsim::parse_loop(QJsonDocument::fromJson(Test_Loop).object(), &l, nullptr));
        QCOMPARE(l.script.size(), 2);
        QCOMPARE(l.script[0].at_seconds, 60.5);
        QCOMPARE(l.script[0].state, uint8_t(6));
        QCOMPARE(l.script[0].poll_status, uint8_t(1));
        QCOMPARE(l.script[1].state, uint8_t(0x01));
    }

    void json_bad_data() {
        QTest::addColumn<QByteArray>("text"); // null: no file at all
        QTest::addColumn<QString>("names");
        const auto bad = [](const char* name, const char* text, const char* names) {
            QTest::newRow(name) << QByteArray(text) << QString(names);
        };
        bad("no file", nullptr, "");
        bad("not json", R"({"detectors": [)", "offset");
        bad("address 0", R"({"detectors": [{"address": 0}]})", "detectors[0].address");
        bad("address 129", R"({"detectors": [{"address": 129}]})", "detectors[0].address");
        bad("byte 256", R"({"detectors": [{"address": 1, "type": 256}]})", "detectors[0].type");
        bad("bad hex", R"({"version": "0xZZ"})", "version");
        bad("parameter code 16", R"({"detectors": [{"address": 1, "params": {"16": 1}}]})",
            "params.16");
        bad("unknown key", R"({"detectors": [{"address": 1, "typo": 1}]})", "typo");
        bad("state word", R"({"script": [{"at": 1, "address": 1, "state": "burning"}]})",
            "script[0].state");
        bad("to below from", R"({"detectors": [{"from": 9, "to": 3}]})", "detectors[0]");
    }
    void json_bad() {
        QFETCH(QByteArray, text);
        QFETCH(QString, names);
        QFile f(dir_.filePath("bad.json"));
        f.remove();
        if (!text.isNull()) QVERIFY(f.open(QIODevice::WriteOnly) && f.write(text) >= 0);
        f.close();
        Loop l;
        l.version = 0x77;
        QString error;
        QVERIFY(!loopsim::load_loop(f.fileName(), &l, &error));
        QVERIFY2(error.startsWith(f.fileName()) && error.contains(names), qPrintable(error));
        QCOMPARE(l.version, uint8_t(0x77)); // untouched
    }
};

QTEST_GUILESS_MAIN(Tst_Loopsim)
#include "tst_loopsim.moc"
