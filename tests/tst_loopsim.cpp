// The simulated board, driven through its published link with plain POSIX calls, as a serial
// port would see it; and the replay of a trace, in-process, with the tool.
#include "app/trace.h"
#include "engine/tempo.h"
#include "support/harness.h"
#include "tools/loopsim/board.h"
#include "tools/loopsim/console.h"
#include "tools/loopsim/loop.h"
#include "tools/loopsim/replay.h"

#include <QtTest>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QByteArray Test_Loop = R"({"detectors": [{"address": 1, "type": "0x1A", "pcb": 33}]})";

QByteArray hex(const char* text) {
    return QByteArray::fromHex(text);
}

const char* const Replay_Loop = R"({"detectors": [{"address": 1, "type": "0x1A", "params":
    {"1": 40}}, {"address": 2, "type": "0x21", "silent": ["0x15"]}, {"address": 3}]})";

// The tool in memory on the clocks of the bus scenarios, a trace of its line going to
// trace.txt from the start or once connected; the board plays `replay` when given.
struct Traced_Tool {
    Harness h;
    explicit Traced_Tool(bool from_start, loopsim::Replay* replay = nullptr)
        : h(loopsim::Loop(), 1, true) {
        QVERIFY(loopsim::parse_loop(QJsonDocument::fromJson(Replay_Loop).object(), &h.board.loop(),
                                    nullptr));
        set_clock_divider(h.t, 10);
        h.board.set_clock_divider(10);
        if (replay) h.board.set_replay(replay);
        QString why;
        QVERIFY(!from_start || start_trace(h.t, QStringLiteral("trace.txt"), &why));
        h.load();
        QVERIFY(h.run_until(
            [&] { return h.t.state.Connected && h.t.state.Task_State == Task::Idle_Status; },
            5000));
        QVERIFY(from_start || start_trace(h.t, QStringLiteral("trace.txt"), &why));
    }
    // "search", then the readouts of the addresses given, each to its end or until `stop`.
    void act(const QString& actions, const std::function<bool()>& stop) {
        Bus_Form& f = h.t.form;
        for (const QString& a : actions.split(' ')) {
            const bool search = a == QLatin1String("search");
            (search ? f.Start_Bus_Cmd : f.Adr_Box(a.toInt())).click();
            h.run_until([&] { return stop() || search || h.t.state.Sel_Adr == a.toInt(); }, 2000);
            h.run_until(
                [&] {
                    return stop() ||
                           (f.Start_Bus_Cmd.Visible() && h.t.link.bus_free() &&
                            (search || (f.Led_On_Cde.Visible() &&
                                        h.t.screen.MousePointer() == Screen_Pointer::Default)));
                },
                9000);
        }
        h.t.link.trace.close();
    }
    // The bytes each way and the outcome of each exchange, the search's result, the journal and
    // what the record learned of each detector.
    QString outcome() const {
        QFile trace(QStringLiteral("trace.txt"));
        trace.open(QIODevice::ReadOnly);
        QStringList out;
        for (const QByteArray& line : trace.readAll().split('\n'))
            if (line.size() > 13 && QByteArray("<>]").contains(line.at(13))) out << line.mid(13);
        out << h.t.form.Cur_Adr_Lbl.Caption() << h.t.form.Search_Stop_Lbl.Caption();
        for (const record::Event& e : h.t.record.events())
            out << QString::number(e.address) + e.text.section(QStringLiteral("après"), 0, 0);
        for (int a = 1; a <= 3; ++a) {
            const record::Detector& d = h.t.record.at(a);
            out << d.type_name + record::readout_text(d.readout) + d.serial;
        }
        return out.join('\n');
    }
};

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
        // A user's own link, to a real adapter, is left alone.
        QVERIFY(QFile::link("/dev/ttyUSB9", link));
        QVERIFY(!loopsim::Board().start(dir_.path(), 3));
        QCOMPARE(QFile::symLinkTarget(link), QStringLiteral("/dev/ttyUSB9"));
        QVERIFY(QFile::remove(link));
        QVERIFY(QFile::link("/dev/pts/9999", link)); // left by a run that crashed
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

    // The tool against a faulty board, its trace played back to it doing the same: the same
    // requests and outcomes; doing something else stops the replay at the trace's request.
    void replay_data() {
        QTest::addColumn<QString>("faults");  // console commands, once connected
        QTest::addColumn<bool>("from_start"); // or the trace begun from the menu
        QTest::addColumn<QString>("actions");
        QTest::addColumn<QString>("replayed"); // what the user does then
        const auto row = [](const char* name, const char* faults, bool from_start,
                            const char* actions, const char* replayed) {
            QTest::newRow(name) << faults << from_start << actions << replayed;
        };
        row("silent detector, wrong echo", "wrongecho 3", true, "search", "search");
        row("late re-arm, stale bytes", "delay 260", true, "search search", "search search");
        row("slow, garbage", "delay 30;garbage e5 e6", false, "search", "search");
        row("short replies", "shortreply on", true, "search", "search");
        row("silent parameter, begun mid-run", "", false, "search 2", "search 2");
        row("another detector read", "", true, "search 1", "search 2");
    }
    void replay() {
        QFETCH(QString, faults);
        QFETCH(bool, from_start);
        QFETCH(QString, actions);
        QFETCH(QString, replayed);
        const QString path = dir_.filePath(QStringLiteral("trace.txt"));
        QString recorded, error;
        {
            Traced_Tool site(from_start);
            loopsim::Console console(site.h.board, [](const QString&) {});
            for (const QString& c : faults.split(';', Qt::SkipEmptyParts))
                console.execute(c);
            site.act(actions, [] { return false; });
            recorded = site.outcome();
            QFile::remove(path);
            QVERIFY(QFile::copy(QStringLiteral("trace.txt"), path));
        }
        loopsim::Replay replay;
        QVERIFY2(replay.load(path, &error), qPrintable(error));
        QStringList told;
        replay.tell = [&told](const QString& text) { told << text; };
        Traced_Tool office(from_start, &replay);
        office.act(replayed, [&] { return replay.ended() && replayed != actions; });
        QCOMPARE(told.size(), 1);
        if (replayed == actions) {
            QCOMPARE(office.outcome(), recorded);
            QCOMPARE(replay.played(), replay.requests());
            return;
        }
        // The message names the trace's line, which holds the request expected.
        static const QRegularExpression stop(QStringLiteral(":(\\d+): expected 0x(..), received"));
        const auto m = stop.match(told.value(0));
        QVERIFY2(m.hasMatch(), qPrintable(told.value(0)));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray line = file.readAll().split('\n').value(m.captured(1).toInt() - 1);
        QVERIFY(line.endsWith("> " + m.captured(2).toLatin1()));
    }

    // Traces that cannot be played say so, naming the line; the part of a rotated trace that
    // begins in the middle of an exchange is one.
    void replay_file_data() {
        QTest::addColumn<QByteArray>("text"); // "fifo": a named pipe; "huge": past the limit
        QTest::addColumn<QString>("error");   // empty: read, with its one request
        const auto row = [](const char* name, const QByteArray& text, const char* error) {
            QTest::newRow(name) << text << QString::fromUtf8(error);
        };
        row("second part", "5 < 01\n6 ] réponse\n# trace\n7 [\n8 > 08\r\n9 ] pas de réponse", "");
        row("NUL byte", QByteArray("1 [\n2 > 01\0\n", 12), ":2: a NUL byte");
        row("unknown line", "1 [\n2 ? 01\x01\n", ":2: not a line of a trace: 2 ? 01\\x01");
        row("second request", "1 [\n2 > 01\n3 > 02\n", ":3: a second request");
        row("nested", "1 [\n2 [\n", ":2: an exchange begins inside the one begun on line 1");
        row("reply outside", "1 [\n2 > 01\n3 ] réponse\n4 < 01\n", ":4: a reply outside");
        row("no request", "# trace\n1 * état 0 -> 1\n", ": no request");
        row("fifo", "fifo", ": not a regular file");
        row("huge", "huge", ": larger than 24 MB");
    }
    void replay_file() {
        QFETCH(QByteArray, text);
        QFETCH(QString, error);
        const QString path = dir_.filePath(QStringLiteral("bad.txt"));
        QFile file(path);
        file.remove();
        if (text == "fifo")
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        else
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(text) == text.size() &&
                    (text != "huge" || file.resize(loopsim::Replay::Max_Bytes + 1)));
        file.close();
        loopsim::Replay replay;
        QString why;
        QCOMPARE(replay.load(path, &why), error.isEmpty());
        QVERIFY2(error.isEmpty() ? replay.requests() == 1 : why.startsWith(path + error),
                 qPrintable(why));
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
