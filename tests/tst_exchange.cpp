// One byte out, its reply in: time-out, drain, reply lengths, lamps, guards.
#include "support/harness.h"
#include "support/link_wiring.h"

#include "link/exchange.h"

#include <QElapsedTimer>
#include <QTimer>
#include <QtTest>

namespace {

// A port opened on the simulated board with the link's events wired and the task tick off, so
// only the test talks on the line.
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
    void settle(int ms) {
        QElapsedTimer e;
        e.start();
        while (e.elapsed() < ms)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
};

} // namespace

class Tst_Exchange : public QObject {
    Q_OBJECT
  private slots:
    void silent_board_times_out();
    void reply_delivery_data();
    void reply_delivery();
    void late_reply_is_drained_before_next_byte();
    void lamps_blink_once_per_exchange();
    void nested_exchange_refused_without_touching_line();
    void closed_port_fails_at_once();
    void quit_ends_wait_at_once();
};

void Tst_Exchange::silent_board_times_out() {
    Rig r;
    r.h.board.set_silent(true);
    r.t.S.Rx_Bytes = bytes({0x31});
    bool receive_lamp_seen = false;
    QObject::connect(&r.t.F.Receive_Shp, &Control::changed, &r.t.F,
                     [&] { receive_lamp_seen |= r.t.F.Receive_Shp.Visible(); });

    QElapsedTimer e;
    e.start();
    QVERIFY(!Exchange_Byte(r.t, 0x01, 1));
    const qint64 ms = e.elapsed();

    QVERIFY2(ms >= 1950 && ms < 3500, qPrintable(QString::number(ms)));
    QCOMPARE(r.h.board.received(), bytes({0x01}));
    QCOMPARE(r.t.S.Rx_Bytes, bytes({0x31}));
    QVERIFY(r.t.S.Time_Out_Flag);
    QVERIFY(!r.t.S.Link_Busy);
    QVERIFY(!receive_lamp_seen);
    QVERIFY(!r.t.F.Timer_Time_Out.isActive());
}

// The reply of a frame's last byte, delivered all at once or a byte at a time at 9600 baud,
// and with bytes beyond the two awaited.
void Tst_Exchange::reply_delivery_data() {
    QTest::addColumn<bool>("paced");
    QTest::addColumn<int>("extra");
    QTest::addColumn<QByteArray>("reply");
    QTest::newRow("bulk") << false << 0 << bytes({0x00, 0x19});
    QTest::newRow("bytewise") << true << 0 << bytes({0x00, 0x19});
    QTest::newRow("longer reply, bulk") << false << 3 << bytes({0x00, 0x19, 0xE0, 0xE1, 0xE2});
}

void Tst_Exchange::reply_delivery() {
    QFETCH(bool, paced);
    QFETCH(int, extra);
    QFETCH(QByteArray, reply);
    Rig r(paced);
    r.h.board.set_extra_bytes(extra);

    QVERIFY(Exchange_Byte(r.t, 0x40, 1));
    QCOMPARE(r.t.S.Rx_Bytes, bytes({0x40}));
    QVERIFY(Exchange_Byte(r.t, 0x13, 1));
    QVERIFY(Exchange_Byte(r.t, 0x03, 1));
    QVERIFY(Exchange_Byte(r.t, 0x00, 2));
    QCOMPARE(r.t.S.Rx_Bytes, reply);
    QCOMPARE(r.h.board.received(), bytes({0x40, 0x13, 0x03, 0x00}));
}

void Tst_Exchange::late_reply_is_drained_before_next_byte() {
    Rig r;
    r.h.board.set_reply_delay(2200);
    QVERIFY(!Exchange_Byte(r.t, 0x01, 1));
    r.settle(400); // the late 0x01 is now waiting
    r.h.board.set_reply_delay(0);
    r.h.board.loop().version = 0x3A;

    QVERIFY(Exchange_Byte(r.t, 0x02, 1));
    QCOMPARE(r.t.S.Rx_Bytes, bytes({0x3A}));
    QCOMPARE(r.h.board.received(), bytes({0x01, 0x02}));
}

void Tst_Exchange::lamps_blink_once_per_exchange() {
    Rig r;
    int send_on = 0, receive_on = 0;
    QObject::connect(&r.t.F.Send_Shp, &Control::changed, &r.t.F,
                     [&] { send_on += r.t.F.Send_Shp.Visible() ? 1 : 0; });
    QObject::connect(&r.t.F.Receive_Shp, &Control::changed, &r.t.F,
                     [&] { receive_on += r.t.F.Receive_Shp.Visible() ? 1 : 0; });

    QVERIFY(Exchange_Byte(r.t, 0x01, 1));
    QVERIFY(r.t.F.Send_Shp.Visible());
    QVERIFY(r.t.F.Receive_Shp.Visible());
    QTRY_VERIFY_WITH_TIMEOUT(!r.t.F.Send_Shp.Visible() && !r.t.F.Receive_Shp.Visible(), 1000);
    QCOMPARE(send_on, 1);
    QCOMPARE(receive_on, 1);
    // Both lamp timers keep running between exchanges.
    QVERIFY(r.t.F.Send_Timer.isActive());
    QVERIFY(r.t.F.Receive_Timer.isActive());
}

void Tst_Exchange::nested_exchange_refused_without_touching_line() {
    Rig r;
    r.h.board.set_reply_delay(300);
    int nested = -1;
    QTimer::singleShot(100, &r.t.F, [&] { nested = Exchange_Byte(r.t, 0x08, 1) ? 1 : 0; });

    QVERIFY(Exchange_Byte(r.t, 0x01, 1));
    QCOMPARE(nested, 0);
    QCOMPARE(r.t.S.Rx_Bytes, bytes({0x01}));
    QCOMPARE(r.h.board.received(), bytes({0x01}));
    QVERIFY(!r.t.S.Link_Busy);
}

void Tst_Exchange::closed_port_fails_at_once() {
    Rig r;
    r.t.S.Rx_Bytes = bytes({0x55});
    r.t.Comm1->Close();
    QElapsedTimer e;
    e.start();
    QVERIFY(!Exchange_Byte(r.t, 0x01, 1));
    QVERIFY(e.elapsed() < 500);
    QCOMPARE(r.t.S.Rx_Bytes, bytes({0x55}));
    QVERIFY(!r.t.S.Link_Busy);
    r.settle(50);
    QCOMPARE(r.h.board.received(), QByteArray());
}

void Tst_Exchange::quit_ends_wait_at_once() {
    Rig r;
    r.h.board.set_silent(true);
    QTimer::singleShot(100, &r.t.F, [&] { r.t.S.Quit_Flag = true; });
    QElapsedTimer e;
    e.start();
    QVERIFY(!Exchange_Byte(r.t, 0x01, 1));
    QVERIFY2(e.elapsed() < 1000, qPrintable(QString::number(e.elapsed())));
    QVERIFY(!r.t.S.Link_Busy);
    QVERIFY(!r.t.F.Timer_Time_Out.isActive());

    // After Quit nothing more goes on the line.
    e.restart();
    QVERIFY(!Exchange_Byte(r.t, 0x02, 1));
    QVERIFY(e.elapsed() < 500);
    r.settle(50);
    QCOMPARE(r.h.board.received(), bytes({0x01}));
}

QTEST_GUILESS_MAIN(Tst_Exchange)
#include "tst_exchange.moc"
