// The serial link: device names, port opening, the byte exchange and the command frames, as
// the simulated board sees them on a real pseudo-terminal.
#include "support/harness.h"
#include "support/link_wiring.h"

#include "link/com_port.h"
#include "link/exchange.h"
#include "link/frames.h"
#include "link/qt_serial_port.h"

#include <QtTest>

#include <sys/resource.h>

namespace {

double cpu_seconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

} // namespace

class Tst_Link : public QObject {
    Q_OBJECT
  private slots:
    void port_that_cannot_open_data();
    void port_that_cannot_open();
    void other_port_closes_first();
    void hang_up_then_return_reconnects();
    void silent_board_times_out();
    void stale_bytes_drained();
    void nested_exchange_refused();
    void frame_data();
    void frame();
    void abandoned_frame_data();
    void abandoned_frame();
};

void Tst_Link::port_that_cannot_open_data() {
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("prompt");
    QTest::newRow("3") << 3 << QString::fromUtf8("Le port Com3 n'existe pas ou n'est pas libre !");
    QTest::newRow("10") << 10
                        << QString::fromUtf8("Le port Com10 n'existe pas ou n'est pas libre !");
    QTest::newRow("16") << 16
                        << QString::fromUtf8("Le port Com16 n'existe pas ou n'est pas libre !");
}

void Tst_Link::port_that_cannot_open() {
    QFETCH(int, number);
    QFETCH(QString, prompt);
    Harness h;
    Wire_Link_Events(h.t);
    h.open();
    QVERIFY(h.t.F.Timer_Tache.isActive());
    // A link to nothing, so no real serial port of the machine can answer for it.
    QFile::link(h.dir.filePath("nothing"), h.dir.filePath(QStringLiteral("COM%1").arg(number)));
    h.t.S.Com_Port = uint8_t(number);
    Open_Com_Port(h.t);

    QCOMPARE(h.dialogs.messages.size(), 1);
    QCOMPARE(h.dialogs.messages[0].prompt, prompt);
    QCOMPARE(h.dialogs.messages[0].style, 48);
    QCOMPARE(h.dialogs.messages[0].title, QStringLiteral("Erreur Port Com"));
    QVERIFY(!h.t.F.Timer_Tache.isActive());
    QVERIFY(!h.t.Comm1->PortOpen());
    QCOMPARE(h.t.S.Task_State, int16_t(Task::Probe_Interface));
    h.board.clear_traffic();
    h.run_for(300);
    QCOMPARE(h.board.received(), QByteArray());
}

void Tst_Link::other_port_closes_first() {
    Harness h;
    loopsim::Board second;
    QVERIFY(second.start(h.dir.path(), 2));
    Wire_Link_Events(h.t);
    h.connect_board();
    h.board.clear_traffic();
    h.t.S.Com_Port = 2;
    Open_Com_Port(h.t);
    QVERIFY(h.run_until([&] { return second.received().size() >= 3; }, 3000));
    QCOMPARE(second.received().left(3), bytes({0x01, 0x02, 0x08}));
    QCOMPARE(h.board.received(), QByteArray());
    // COM1 is free again: another program can take it.
    auto other = make_qt_serial_port();
    QVERIFY(other->Open(1));
    other->Close();
    h.t.Comm1->Close();
    QVERIFY(h.dialogs.messages.isEmpty());
}

void Tst_Link::hang_up_then_return_reconnects() {
    Harness h;
    Wire_Link_Events(h.t);
    h.connect_board();
    h.board.set_reply_delay(1500);
    QTimer::singleShot(100, &h.board, [&] { h.board.hang_up(); });
    QElapsedTimer e;
    e.start();
    h.step(); // the status request waits when the board goes
    QVERIFY2(e.elapsed() < 1000, qPrintable(QString::number(e.elapsed())));
    QVERIFY(!h.t.Comm1->PortOpen());
    QCOMPARE(h.t.S.Task_State, int16_t(Task::Probe_Interface));
    h.board.set_reply_delay(0);

    // Gone for a while: the task keeps trying, quietly and without an error flood.
    const double cpu_before = cpu_seconds();
    e.restart();
    h.run_for(1000);
    const double share = (cpu_seconds() - cpu_before) / (double(e.elapsed()) / 1000.0);
    QVERIFY2(share < 0.3, qPrintable(QString("CPU share %1").arg(share)));
    QVERIFY(!h.t.S.Connected);

    h.board.clear_traffic();
    QVERIFY(h.board.come_back());
    QVERIFY(h.run_until([&] { return h.t.S.Connected; }, 3000));
    h.run_for(1000);
    // One status request per 100 ms tick; a loaded machine may lose a few, never add any.
    const QByteArray line = h.board.received();
    QCOMPARE(line.left(3), bytes({0x01, 0x02, 0x08}));
    QVERIFY2(line.size() >= 7 && line.size() <= 14, qPrintable(line.toHex(' ')));
    QCOMPARE(line.mid(2), QByteArray(line.size() - 2, char(0x08)));
    QCOMPARE(h.t.F.Emul_Frm.BackColor(), RGB(0, 255, 0));
    QVERIFY(h.dialogs.messages.isEmpty());
}

void Tst_Link::silent_board_times_out() {
    Harness h;
    Open_Quiet(h);
    h.board.set_silent(true);
    h.t.S.Rx_Bytes = bytes({0x31});
    int send_on = 0, receive_on = 0;
    QObject::connect(&h.t.F.Send_Shp, &Control::changed, &h.t.F,
                     [&] { send_on += h.t.F.Send_Shp.Visible(); });
    QObject::connect(&h.t.F.Receive_Shp, &Control::changed, &h.t.F,
                     [&] { receive_on += h.t.F.Receive_Shp.Visible(); });
    QElapsedTimer e;
    e.start();
    QVERIFY(!Send_Frame(h.t, 0x14, 0x01, 0x00, false, false));
    QVERIFY2(e.elapsed() >= 1950 && e.elapsed() < 3000, qPrintable(QString::number(e.elapsed())));
    QCOMPARE(h.board.received(), bytes({0x40}));
    QCOMPARE(h.t.S.Rx_Bytes, bytes({0x31}));
    QCOMPARE(send_on, 1);
    QCOMPARE(receive_on, 0);
    QVERIFY(!h.t.F.Send_Shp.Visible());
    QVERIFY(!h.t.S.Link_Busy);
}

// Replies that come while no exchange waits, before an opening and before a byte, are thrown
// away and never taken for the next reply.
void Tst_Link::stale_bytes_drained() {
    Harness h;
    Open_Quiet(h);
    h.board.loop().version = 0x3A;
    // The reply comes while the port is closed, so it waits in the terminal for the opening.
    h.board.set_reply_delay(100);
    QVERIFY(h.t.Comm1->Output(0x02));
    h.t.Comm1->Close();
    QTRY_COMPARE_WITH_TIMEOUT(h.board.sent(), bytes({0x3A}), 1000);
    QTest::qWait(50);
    h.board.set_reply_delay(0);
    h.t.S.Rx_Bytes.clear();
    h.open();
    QCOMPARE(h.t.S.Rx_Bytes, bytes({0x3A}));
    QCOMPARE(h.t.Comm1->InBufferCount(), 0);

    h.t.F.Timer_Tache.stop();
    QVERIFY(h.t.Comm1->Output(0x02));
    QTRY_COMPARE_WITH_TIMEOUT(h.t.Comm1->InBufferCount(), 1, 1000);
    h.board.loop().version = 0x3B;
    QVERIFY(Exchange_Byte(h.t, 0x02, 1));
    QCOMPARE(h.t.S.Rx_Bytes, bytes({0x3B}));
    QVERIFY(h.t.F.Receive_Shp.Visible());
    QTRY_VERIFY_WITH_TIMEOUT(!h.t.F.Receive_Shp.Visible() && !h.t.F.Send_Shp.Visible(), 500);
    QCOMPARE(h.board.received(), bytes({0x02, 0x02, 0x02}));
}

// An exchange asked for while another one waits must not reach the line.
void Tst_Link::nested_exchange_refused() {
    Harness h;
    Open_Quiet(h);
    h.board.set_reply_delay(300);
    int nested = -1;
    QTimer::singleShot(100, &h.t.F, [&] { nested = Exchange_Byte(h.t, 0x08, 1); });
    QVERIFY(Exchange_Byte(h.t, 0x01, 1));
    QCOMPARE(nested, 0);
    QCOMPARE(h.t.S.Rx_Bytes, bytes({0x01}));
    QCOMPARE(h.board.received(), bytes({0x01}));
}

// Frames the board answers in full; nothing is escaped, and every reply byte is kept.
void Tst_Link::frame_data() {
    QTest::addColumn<QByteArray>("args"); // P0, P1, P2, flag A, flag B
    QTest::addColumn<int>("extra");
    QTest::addColumn<QByteArray>("wire");
    QTest::addColumn<QByteArray>("reply");
    QTest::newRow("P1 0x40, P2 0x41") << bytes({0x96, 0x40, 0x41, 1, 0}) << 0
                                      << bytes({0x41, 0x96, 0x40, 0x41}) << bytes({0x01, 0x00});
    QTest::newRow("P1 0x41, P2 0x40, longer reply")
        << bytes({0x81, 0x41, 0x40, 1, 0}) << 3 << bytes({0x41, 0x81, 0x41, 0x40})
        << bytes({0x01, 0x00, 0xE0, 0xE1, 0xE2});
    QTest::newRow("flag B, three-byte reply")
        << bytes({0x13, 0x01, 0x00, 0, 1}) << 0 << bytes({0x42, 0x13, 0x01, 0x00})
        << bytes({0x00, 0x13, 0x00});
}

void Tst_Link::frame() {
    QFETCH(QByteArray, args);
    QFETCH(int, extra);
    QFETCH(QByteArray, wire);
    QFETCH(QByteArray, reply);
    Harness h;
    // Bytes a millisecond apart, as on the real line, so a reply read too early shows; extra
    // bytes sent at once, so they are sure to be waiting with the reply.
    h.board.set_paced(extra == 0);
    h.board.set_extra_bytes(extra);
    Open_Quiet(h);
    const auto a = [&](int i) { return uint8_t(args[i]); };
    QVERIFY(Send_Frame(h.t, a(0), a(1), a(2), args[3], args[4]));
    QCOMPARE(h.board.received(), wire);
    QCOMPARE(h.t.S.Rx_Bytes, reply);
}

// A frame stops at the first byte not echoed exactly; the next frame starts with a new header.
void Tst_Link::abandoned_frame_data() {
    QTest::addColumn<bool>("wrong"); // else: no echo at all
    QTest::addColumn<int>("k");
    QTest::addColumn<QByteArray>("wire");
    QTest::newRow("wrong echo of header") << true << 1 << bytes({0x41});
    QTest::newRow("wrong echo of P0") << true << 2 << bytes({0x41, 0x82});
    QTest::newRow("wrong echo of P1") << true << 3 << bytes({0x41, 0x82, 0x07});
    QTest::newRow("no echo of P0") << false << 2 << bytes({0x41, 0x82});
}

void Tst_Link::abandoned_frame() {
    QFETCH(bool, wrong);
    QFETCH(int, k);
    QFETCH(QByteArray, wire);
    Harness h;
    Open_Quiet(h);
    wrong ? h.board.set_wrong_echo(k) : h.board.set_echo_stop(k);
    QVERIFY(!Send_Frame(h.t, 0x82, 0x07, 0x03, true, false));
    QTest::qWait(50); // a byte sent after the failure would show here
    QCOMPARE(h.board.received(), wire);
    h.board.set_wrong_echo(0);
    h.board.set_echo_stop(0);
    QVERIFY(Send_Frame(h.t, 0x15, 0x01, 0x00, false, false));
    QCOMPARE(h.board.received(), wire + bytes({0x40, 0x15, 0x01, 0x00}));
    QCOMPARE(h.t.S.Rx_Bytes, bytes({0x00, 0x31}));
}

QTEST_GUILESS_MAIN(Tst_Link)
#include "tst_link.moc"
