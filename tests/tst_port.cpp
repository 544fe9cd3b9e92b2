// Opening the port: device names, a port that cannot be opened, reopening, a device that hangs
// up and comes back.
#include "support/harness.h"
#include "support/link_wiring.h"

#include "link/com_port.h"
#include "link/exchange.h"
#include "link/qt_serial_port.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>
#include <QtTest>

#include <sys/resource.h>

namespace {

struct Rig {
    Harness h;
    Tool& t = h.t;
    Rig() { Wire_Link_Events(t); }
    bool idle_connected() const { return t.S.Task_State == Task::Idle_Status && t.S.Connected; }
};

double cpu_seconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

void check_disconnected_look(const Tool& t) {
    QCOMPARE(t.F.Connection_Lbl.Caption(), QString::fromUtf8("Deconnecté"));
    QCOMPARE(t.F.Emul_Frm.BackColor(), RGB(255, 255, 0));
    QVERIFY(!t.F.Version_Lbl.Visible());
}

} // namespace

class Tst_Port : public QObject {
    Q_OBJECT
  private slots:
    void device_name_data();
    void device_name();
    void port_that_cannot_open_data();
    void port_that_cannot_open();
    void reopening_same_port_starts_over();
    void other_port_closes_first();
    void bytes_waiting_at_opening_are_drained();
    void hang_up_fails_waiting_exchange_at_once();
    void hang_up_then_return_reconnects();
};

void Tst_Port::device_name_data() {
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("file"); // what lies in the current directory as COM<number>
    QTest::addColumn<QString>("expected");
    QTest::newRow("no file, COM1") << 1 << ""
                                   << "/dev/ttyS0";
    QTest::newRow("no file, COM16") << 16 << ""
                                    << "/dev/ttyS15";
    QTest::newRow("link to a device") << 2 << "link"
                                      << "local";
    QTest::newRow("link left by a device gone") << 3 << "dangling"
                                                << "local";
    QTest::newRow("plain file") << 10 << "file"
                                << "local";
}

void Tst_Port::device_name() {
    QFETCH(int, number);
    QFETCH(QString, file);
    QFETCH(QString, expected);
    QTemporaryDir dir;
    const QString old = QDir::currentPath();
    QDir::setCurrent(dir.path());
    const QString local = dir.path() + QStringLiteral("/COM%1").arg(number);
    if (file == "link") QFile::link("/dev/null", local);
    if (file == "dangling") QFile::link(dir.path() + "/gone", local);
    if (file == "file") {
        QFile f(local);
        QVERIFY(f.open(QIODevice::WriteOnly));
    }
    const QString name = Com_Device_Name(number);
    QDir::setCurrent(old);
    QCOMPARE(name, expected == "local" ? local : expected);
}

void Tst_Port::port_that_cannot_open_data() {
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("prompt");
    QTest::newRow("3") << 3 << QString::fromUtf8("Le port Com3 n'existe pas ou n'est pas libre !");
    QTest::newRow("10") << 10
                        << QString::fromUtf8("Le port Com10 n'existe pas ou n'est pas libre !");
    QTest::newRow("16") << 16
                        << QString::fromUtf8("Le port Com16 n'existe pas ou n'est pas libre !");
}

void Tst_Port::port_that_cannot_open() {
    QFETCH(int, number);
    QFETCH(QString, prompt);
    Rig r;
    r.h.connect_board();
    QVERIFY(r.idle_connected());
    // A link to nothing, so no real serial port of the machine can answer for it.
    QFile::link(r.h.dir.path() + "/nothing", r.h.dir.path() + QStringLiteral("/COM%1").arg(number));

    r.t.S.Com_Port = uint8_t(number);
    Open_Com_Port(r.t);

    QCOMPARE(r.h.dialogs.messages.size(), 1);
    QCOMPARE(r.h.dialogs.messages[0].prompt, prompt);
    QCOMPARE(r.h.dialogs.messages[0].style, 48);
    QCOMPARE(r.h.dialogs.messages[0].title, QStringLiteral("Erreur Port Com"));
    QCOMPARE(r.t.S.Last_Result.toInt(), 1);
    QVERIFY(!r.t.F.Timer_Tache.isActive());
    QVERIFY(!r.t.Comm1->PortOpen());
    QCOMPARE(r.t.S.Task_State, int16_t(Task::Probe_Interface));
    QVERIFY(!r.t.S.Connected);
    check_disconnected_look(r.t);

    r.h.board.clear_traffic();
    r.h.run_for(400);
    QCOMPARE(r.h.board.received(), QByteArray());
    QCOMPARE(r.h.dialogs.messages.size(), 1);
}

void Tst_Port::reopening_same_port_starts_over() {
    Rig r;
    r.h.connect_board();
    QVERIFY(r.idle_connected());
    r.h.board.clear_traffic();

    r.h.open();
    QVERIFY(r.h.dialogs.messages.isEmpty());
    QCOMPARE(r.t.S.Task_State, int16_t(Task::Probe_Interface));
    QCOMPARE(r.t.S.Probe_Retries, uint8_t(2));
    check_disconnected_look(r.t);
    QVERIFY(r.h.run_until([&] { return r.h.board.received().size() >= 3; }, 3000));
    QVERIFY(r.idle_connected());
    QCOMPARE(r.h.board.received().left(3), bytes({0x01, 0x02, 0x08}));
}

void Tst_Port::other_port_closes_first() {
    Rig r;
    loopsim::Board second;
    QVERIFY(second.start(r.h.dir.path(), 2));
    r.h.connect_board();
    r.h.board.clear_traffic();

    r.t.S.Com_Port = 2;
    Open_Com_Port(r.t);
    QVERIFY(r.h.dialogs.messages.isEmpty());
    QVERIFY(r.h.run_until([&] { return second.received().size() >= 3; }, 3000));
    QVERIFY(r.idle_connected());
    QCOMPARE(second.received().left(3), bytes({0x01, 0x02, 0x08}));
    QCOMPARE(r.h.board.received(), QByteArray());

    // COM1 is free again: another program can take it.
    auto other = make_qt_serial_port();
    QVERIFY(other->Open(1));
    other->Close();
    r.t.Comm1->Close();
    second.stop();
}

void Tst_Port::bytes_waiting_at_opening_are_drained() {
    Rig r;
    r.h.board.loop().version = 0x3A;
    r.h.open();
    r.t.F.Timer_Tache.stop();
    // The reply comes while the port is closed, so it waits in the terminal for the next opening.
    r.h.board.set_reply_delay(100);
    QVERIFY(r.t.Comm1->Output(0x02));
    r.t.Comm1->Close();
    QTRY_COMPARE_WITH_TIMEOUT(r.h.board.sent(), bytes({0x3A}), 2000);
    QTest::qWait(50);
    r.t.S.Rx_Bytes.clear();

    r.h.open();
    QCOMPARE(r.t.S.Rx_Bytes, bytes({0x3A}));
    QCOMPARE(r.t.Comm1->InBufferCount(), 0);
}

void Tst_Port::hang_up_fails_waiting_exchange_at_once() {
    Rig r;
    r.h.open();
    r.t.F.Timer_Tache.stop();
    r.h.board.set_reply_delay(1500);
    QTimer::singleShot(100, &r.h.board, [&] { r.h.board.hang_up(); });
    QElapsedTimer e;
    e.start();
    QVERIFY(!Exchange_Byte(r.t, 0x01, 1));
    QVERIFY2(e.elapsed() < 1000, qPrintable(QString::number(e.elapsed())));
    QVERIFY(!r.t.Comm1->PortOpen());
    QVERIFY(!r.t.F.Timer_Time_Out.isActive());
}

void Tst_Port::hang_up_then_return_reconnects() {
    Rig r;
    r.h.board.loop().status = 0x10;
    r.h.connect_board();
    QVERIFY(r.idle_connected());
    QVERIFY(r.h.run_until([&] { return r.t.F.Cc_Lbl.Visible(); }, 1000));

    r.h.board.hang_up();
    QVERIFY(r.h.run_until([&] { return !r.t.S.Connected; }, 5000));
    check_disconnected_look(r.t);
    QVERIFY(!r.t.F.Cc_Lbl.Visible());

    // Gone for a while: the task keeps trying, quietly and without burning the processor.
    const double cpu_before = cpu_seconds();
    QElapsedTimer wall;
    wall.start();
    r.h.run_for(1000);
    const double share = (cpu_seconds() - cpu_before) / (double(wall.elapsed()) / 1000.0);
    qInfo("processor share while the board is gone: %.3f", share);
    QVERIFY2(share < 0.3, qPrintable(QString("CPU share %1").arg(share)));
    QVERIFY(r.t.F.Timer_Tache.isActive());
    QCOMPARE(r.t.S.Task_State, int16_t(Task::Probe_Interface));

    r.h.board.clear_traffic();
    QVERIFY(r.h.board.come_back());
    QVERIFY(r.h.run_until([&] { return r.h.board.received().size() >= 3; }, 3000));
    QVERIFY(r.idle_connected());
    QCOMPARE(r.h.board.received().left(3), bytes({0x01, 0x02, 0x08}));
    QCOMPARE(r.t.F.Connection_Lbl.Caption(), QString::fromUtf8("Connecté "));
    QCOMPARE(r.t.F.Emul_Frm.BackColor(), RGB(0, 255, 0));
    QVERIFY(r.h.run_until([&] { return r.t.F.Cc_Lbl.Visible(); }, 1000));
    QVERIFY(r.h.dialogs.messages.isEmpty());
}

QTEST_GUILESS_MAIN(Tst_Port)
#include "tst_port.moc"
