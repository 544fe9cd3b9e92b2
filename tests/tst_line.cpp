// The serial line over a port in memory: command frames, the reply time-out, and the rule of one
// exchange at a time. No form, no pseudo-terminal.
#include "link/line.h"
#include "support/memory_port.h"

#include <QtTest>

namespace {

QByteArray hex(const QString& text) {
    return QByteArray::fromHex(text.toLatin1());
}

// A line on an open memory port whose board answers the n-th byte written with the n-th word of
// `replies` (hex bytes, dots between them allowed; "-" for nothing; "@MS" after it: that much
// later). The clock runs `divider` times faster: with 20, the reply time-out is 100 ms and the
// quiet wait after it 50 ms.
struct Bench {
    explicit Bench(const QString& replies, int divider = 20) {
        auto owned = std::make_unique<Memory_Port>();
        port = owned.get();
        line.set_port(std::move(owned));
        line.set_clock_divider(divider);
        port->open(1);
        port->set_answer([this, words = replies.split(' ')](uint8_t) -> std::optional<QByteArray> {
            const QStringList word = words.value(written++).split('@');
            if (word.size() == 1) return hex(word[0]);
            port->deliver_later(hex(word[0]), word[1].toInt());
            return std::nullopt;
        });
    }
    Line line;
    Memory_Port* port = nullptr;
    int written = 0;
};

} // namespace

class Tst_Line : public QObject {
    Q_OBJECT

  private slots:
    // Frame bytes go out unescaped and every reply byte is kept; a frame stops at the first byte
    // not echoed exactly. The header asks for the flags (0x40, +1 for A, +2 for B); the board's
    // replies end with the byte the frame must stop at.
    void frame_data() {
        QTest::addColumn<QString>("frame"); // header, P0, P1, P2 as written
        QTest::addColumn<QString>("replies");
        QTest::addColumn<QString>("rx");
        QTest::addColumn<int>("fault");
        const int none = int(Line::Link_Fault::None), echo = int(Line::Link_Fault::Wrong_Echo),
                  silent = int(Line::Link_Fault::No_Reply);
        auto row = [](const char* name, const char* frame, const char* replies, const char* rx,
                      int fault) { QTest::newRow(name) << frame << replies << rx << fault; };
        row("flag A", "41 96 40 41", "41 96 40 01.00", "01 00", none);
        row("longer reply kept", "41 81 41 40", "41 81 41 01.00.e0.e1.e2", "01 00 e0 e1 e2", none);
        row("flag B, three-byte reply", "42 13 01 00", "42 13 01 00.13.00", "00 13 00", none);
        row("no flag", "40 15 01 00", "40 15 01 00.31", "00 31", none);
        row("wrong echo of the header", "41 82 07 03", "40", "", echo);
        row("wrong echo of P0", "41 82 07 03", "41 83", "", echo);
        row("wrong echo of P1", "41 82 07 03", "41 82 08", "", echo);
        row("no echo of P0", "41 82 07 03", "41 -", "", silent);
        row("reply a byte short", "41 82 07 03", "41 82 07 01", "", silent);
        row("flag B, reply a byte short", "42 13 01 00", "42 13 01 00.13", "", silent);
    }
    void frame() {
        QFETCH(QString, frame);
        QFETCH(QString, replies);
        QFETCH(QString, rx);
        QFETCH(int, fault);
        Bench b(replies);
        const QByteArray p = hex(frame);
        const bool ok =
            b.line.Send_Frame(uint8_t(p[1]), uint8_t(p[2]), uint8_t(p[3]), p[0] & 1, p[0] & 2);
        QCOMPARE(ok, fault == int(Line::Link_Fault::None));
        QTest::qWait(20); // a byte sent after a failure would show here
        QCOMPARE(b.port->written(), p.left(replies.count(' ') + 1));
        if (ok) QCOMPARE(b.line.Rx_Bytes(), hex(rx));
        QCOMPARE(int(b.line.last_fault()), fault);
        QVERIFY(!b.line.exchanging());
    }

    // A silent board: the exchange fails after the time-out, the last reply stays, and the byte
    // sent lit the send lamp once while no reply lit the other.
    void silent_board_times_out() {
        Bench b("31 -", 1);
        QVERIFY(b.line.Exchange_Byte(0x02, 1));
        QSignalSpy sent(&b.line, &Line::byte_sent), arrived(&b.line, &Line::reply_arrived);
        QElapsedTimer e;
        e.start();
        QVERIFY(!b.line.Exchange_Byte(0x14, 1));
        QVERIFY2(e.elapsed() >= 1950 && e.elapsed() < 3000,
                 qPrintable(QString::number(e.elapsed())));
        QCOMPARE(b.line.Rx_Bytes(), hex("31"));
        QCOMPARE(sent.count(), 1);
        QCOMPARE(arrived.count(), 0);
    }

    // The trace of a frame, a silent exchange and the late reply thrown away after it, and a
    // file that stops past its size limit for a new one.
    void trace() {
        QTemporaryDir dir;
        const QString path = dir.filePath("trace.txt");
        Bench b("41 82 07 01.00 55@120 -", 20);
        QString why;
        QVERIFY(b.line.trace.open(path, &why, 4096));
        QVERIFY(b.line.Send_Frame(0x82, 0x07, 0x03, true, false));
        QVERIFY(!b.line.Exchange_Byte(0x08, 1));
        QVERIFY(!b.line.Exchange_Byte(0x08, 1));
        b.line.trace.close();
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QStringList lines;
        for (const QByteArray& line : f.readAll().split('\n').mid(1))
            lines << QString::fromUtf8(line.mid(13));
        QCOMPARE(lines.join('|'),
                 QString::fromUtf8(
                     "[|> 41|< 41|] réponse|[|> 82|< 82|] réponse|[|> 07|< 07|] réponse|[|> 03|"
                     "< 01 00|] réponse|[|> 08|] pas de réponse, délai dépassé|< 55 (ignoré)|[|"
                     "> 08|] pas de réponse, délai dépassé|"));
        QVERIFY(b.line.trace.open(path, &why, 4096));
        for (int i = 0; i < 400; ++i)
            b.line.trace.sent(0x08, true);
        QVERIFY(QFileInfo(path + ".1").size() >= 4096 && QFileInfo(path).size() < 4096);
    }

    // A reply that comes after the time-out, or bytes waiting before a request (a late reply,
    // noise), are never taken for the answer to the next request; a reply that comes in time
    // behind a box held open counts.
    void only_the_answer_counts() {
        Bench b("31@130 08@60 01@30 3b"); // the time-out is 100 ms
        QVERIFY(!b.line.Exchange_Byte(0x02, 1));
        QVERIFY(b.line.Exchange_Byte(0x08, 1));
        QCOMPARE(b.line.Rx_Bytes(), hex("08"));
        QTimer::singleShot(5, [] { QTest::qWait(300); }); // a modal box's own event loop
        QVERIFY(b.line.Send_Command(0x01, 0x01));
        b.port->deliver(hex("3a"));
        QTest::qWait(10);
        QVERIFY(b.line.Exchange_Byte(0x02, 1));
        QCOMPARE(b.line.Rx_Bytes(), hex("3b"));
        QCOMPARE(b.port->written(), hex("02 08 01 02"));
    }

    // An exchange asked for while another waits does not reach the line; a request that comes
    // while a step holds the bus runs when the step ends, in order.
    void one_exchange_at_a_time() {
        Bench b("01@50");
        int nested = -1;
        QTimer::singleShot(10, [&] { nested = b.line.Exchange_Byte(0x08, 1); });
        QVERIFY(b.line.Exchange_Byte(0x01, 1));
        QCOMPARE(nested, 0);
        QCOMPARE(b.port->written(), hex("01"));
        QCOMPARE(int(b.line.link_count().overlaps), 1);

        QStringList ran;
        {
            Line::Step_Scope step(b.line);
            b.line.run_request([&] { ran << "first"; });
            b.line.run_request([&] { ran << "second"; });
            QVERIFY(ran.isEmpty() && !b.line.bus_free());
        }
        QCOMPARE(ran, QStringList({"first", "second"}));
        b.line.run_request([&] { ran << "at once"; });
        QCOMPARE(ran.size(), 3);
    }

    // A port that goes away during an exchange ends it at once.
    void port_lost_during_exchange() {
        Bench b("-", 1);
        QSignalSpy lost(&b.line, &Line::port_lost);
        QTimer::singleShot(20, [&] { b.port->hang_up(); });
        QElapsedTimer e;
        e.start();
        QVERIFY(!b.line.Exchange_Byte(0x08, 1));
        QVERIFY(e.elapsed() < 1000);
        QCOMPARE(lost.count(), 1);
        QCOMPARE(int(b.line.last_fault()), int(Line::Link_Fault::Port_Closed));
    }
};

QTEST_GUILESS_MAIN(Tst_Line)
#include "tst_line.moc"
