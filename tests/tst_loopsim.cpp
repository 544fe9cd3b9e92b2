// The simulated board, driven through its published link with plain POSIX calls, as a serial
// port would see it.
#include "tools/loopsim/board.h"
#include "tools/loopsim/loop.h"

#include <QtTest>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

const QByteArray Test_Loop = R"({"detectors": [{"address": 1, "type": "0x1A", "pcb": 33}]})";

QByteArray hex(const char* text) {
    return QByteArray::fromHex(text);
}

} // namespace

class Tst_Loopsim : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    std::unique_ptr<loopsim::Board> board_;
    int fd_ = -1;

    void start() {
        board_ = std::make_unique<loopsim::Board>(loopsim::Loop());
        QVERIFY(loopsim::parse_loop(QJsonDocument::fromJson(Test_Loop).object(), &board_->loop(),
                                    nullptr));
        QVERIFY(board_->start(dir_.path(), 3));
        open_line();
    }
    void open_line() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = ::open(QFile::encodeName(board_->link_path()).constData(),
                     O_RDWR | O_NOCTTY | O_NONBLOCK);
        QVERIFY(fd_ >= 0);
    }
    // What comes within ms, returning once `want` bytes have come; the board runs meanwhile.
    QByteArray take(int want, int ms) {
        QByteArray got;
        char buf[256];
        for (QDeadlineTimer end(ms); got.size() < want && !end.hasExpired(); QTest::qWait(1))
            for (ssize_t n; (n = ::read(fd_, buf, sizeof buf)) > 0;)
                got.append(buf, int(n));
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

    // How the board finds where a frame starts; the tool never drives it into these cases.
    void resync() {
        start();
        // An echo slower than the gap that ends a frame is no silence of the tool.
        board_->set_reply_delay(1050);
        QCOMPARE(talk(hex("40"), 1500), hex("40"));
        board_->set_reply_delay(0);
        QCOMPARE(talk(hex("13 01 00")), hex("13 01 00 1A"));
        // A frame the tool gave up on is dropped after a second of silence.
        QCOMPARE(talk(hex("40 13")), hex("40 13"));
        QTest::qWait(1100);
        QCOMPARE(talk(hex("40 14 01 00")), hex("40 14 01 00 21"));
        // An echo due at the tool's 2000 ms time-out is one it never sees: the next byte opens
        // a new frame.
        board_->set_reply_delay(2000);
        send(0x40);
        QCOMPARE(take(1, 50), QByteArray());
        board_->set_reply_delay(0);
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
        char c;
        QTRY_VERIFY(::read(fd_, &c, 1) == 0 || errno == EIO);
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
        QFile f(dir_.filePath(QTest::currentDataTag()));
        if (!text.isNull()) QVERIFY(f.open(QIODevice::WriteOnly) && f.write(text) >= 0);
        f.close();
        loopsim::Loop l;
        l.version = 0x77;
        QString error;
        QVERIFY(!loopsim::load_loop(f.fileName(), &l, &error));
        QVERIFY2(error.startsWith(f.fileName()) && error.contains(names), qPrintable(error));
        QCOMPARE(l.version, uint8_t(0x77)); // untouched
    }
};

QTEST_GUILESS_MAIN(Tst_Loopsim)
#include "tst_loopsim.moc"
