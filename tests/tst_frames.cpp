// Single-byte commands and four-byte frames as the board sees them on the line.
#include "support/harness.h"
#include "support/link_wiring.h"

#include "link/frames.h"

#include <QElapsedTimer>
#include <QtTest>

namespace {

struct Rig {
    Harness h;
    Tool& t = h.t;
    explicit Rig(bool paced = false) {
        h.board.set_paced(paced);
        Wire_Link_Events(t);
        h.open();
        t.F.Timer_Tache.stop();
        h.board.clear_traffic();
    }
};

} // namespace

class Tst_Frames : public QObject {
    Q_OBJECT
  private slots:
    void send_command_data();
    void send_command();
    void frame_data();
    void frame();
    void abandoned_frame_data();
    void abandoned_frame();
    void silent_board_fails_after_header();
    void next_frame_after_abandoned_one();
};

void Tst_Frames::send_command_data() {
    QTest::addColumn<int>("cmd");
    QTest::addColumn<int>("expected");
    QTest::addColumn<bool>("ok");
    QTest::newRow("probe answered") << 0x01 << 0x01 << true;
    QTest::newRow("answer not the expected byte") << 0x02 << 0x30 << false;
    QTest::newRow("answer equal to expected") << 0x02 << 0x31 << true;
}

void Tst_Frames::send_command() {
    QFETCH(int, cmd);
    QFETCH(int, expected);
    QFETCH(bool, ok);
    Rig r;
    r.h.board.loop().version = 0x31;
    QCOMPARE(Send_Command(r.t, uint8_t(cmd), uint8_t(expected)), ok);
    QCOMPARE(r.h.board.received(), bytes({cmd}));
}

// Frames the board answers in full. 0x40 and 0x41 in P1 or P2 go out as plain bytes.
void Tst_Frames::frame_data() {
    QTest::addColumn<int>("p0");
    QTest::addColumn<int>("p1");
    QTest::addColumn<int>("p2");
    QTest::addColumn<bool>("flag_a");
    QTest::addColumn<bool>("flag_b");
    QTest::addColumn<QByteArray>("wire");
    QTest::addColumn<QByteArray>("reply");
    QTest::newRow("type of address 2") << 0x13 << 2 << 0x00 << false << false
                                       << bytes({0x40, 0x13, 0x02, 0x00}) << bytes({0x00, 0x1A});
    QTest::newRow("LED on, flag A") << 0x82 << 5 << 0x03 << true << false
                                    << bytes({0x41, 0x82, 0x05, 0x03}) << bytes({0x00, 0x00});
    QTest::newRow("P1 0x40, P2 0x41") << 0x96 << 0x40 << 0x41 << true << false
                                      << bytes({0x41, 0x96, 0x40, 0x41}) << bytes({0x01, 0x00});
    QTest::newRow("P1 0x41, P2 0x40") << 0x81 << 0xC8 << 0x40 << true << false
                                      << bytes({0x41, 0x81, 0xC8, 0x40}) << bytes({0x01, 0x00});
    QTest::newRow("flag B: three-byte reply")
        << 0x13 << 1 << 0x00 << false << true << bytes({0x42, 0x13, 0x01, 0x00})
        << bytes({0x00, 0x13, 0x00});
}

void Tst_Frames::frame() {
    QFETCH(int, p0);
    QFETCH(int, p1);
    QFETCH(int, p2);
    QFETCH(bool, flag_a);
    QFETCH(bool, flag_b);
    QFETCH(QByteArray, wire);
    QFETCH(QByteArray, reply);
    // Bytes a millisecond apart, as on the real line, so a reply read too early shows.
    Rig r(true);
    QVERIFY(Send_Frame(r.t, uint8_t(p0), uint8_t(p1), uint8_t(p2), flag_a, flag_b));
    QCOMPARE(r.h.board.received(), wire);
    QCOMPARE(r.t.S.Rx_Bytes, reply);
}

// A frame stops at the first byte not echoed exactly: only the bytes up to it are sent.
void Tst_Frames::abandoned_frame_data() {
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("k");
    QTest::addColumn<QByteArray>("wire");
    QTest::newRow("wrong echo of header") << "wrong" << 1 << bytes({0x41});
    QTest::newRow("wrong echo of P0") << "wrong" << 2 << bytes({0x41, 0x82});
    QTest::newRow("wrong echo of P1") << "wrong" << 3 << bytes({0x41, 0x82, 0x07});
    QTest::newRow("no echo of P0") << "stop" << 2 << bytes({0x41, 0x82});
}

void Tst_Frames::abandoned_frame() {
    QFETCH(QString, fault);
    QFETCH(int, k);
    QFETCH(QByteArray, wire);
    Rig r;
    if (fault == "wrong")
        r.h.board.set_wrong_echo(k);
    else
        r.h.board.set_echo_stop(k);
    QVERIFY(!Send_Frame(r.t, 0x82, 0x07, 0x03, true, false));
    QTest::qWait(50); // a byte sent after the failure would show here
    QCOMPARE(r.h.board.received(), wire);
}

void Tst_Frames::silent_board_fails_after_header() {
    Rig r;
    r.h.board.set_silent(true);
    QElapsedTimer e;
    e.start();
    QVERIFY(!Send_Frame(r.t, 0x14, 0x01, 0x00, false, false));
    QVERIFY2(e.elapsed() >= 1950 && e.elapsed() < 3500, qPrintable(QString::number(e.elapsed())));
    QCOMPARE(r.h.board.received(), bytes({0x40}));
}

void Tst_Frames::next_frame_after_abandoned_one() {
    Rig r;
    r.h.board.set_wrong_echo(2);
    QVERIFY(!Send_Frame(r.t, 0x14, 0x01, 0x00, false, false));
    r.h.board.set_wrong_echo(0);
    QVERIFY(Send_Frame(r.t, 0x15, 0x01, 0x00, false, false));
    QCOMPARE(r.h.board.received(), bytes({0x40, 0x14, 0x40, 0x15, 0x01, 0x00}));
    QCOMPARE(r.t.S.Rx_Bytes, bytes({0x00, 0x31}));
}

QTEST_GUILESS_MAIN(Tst_Frames)
#include "tst_frames.moc"
