// Watching the interface board: probe, version, idle status, and the count of failed probes
// before the disconnection is shown.
#include "support/harness.h"
#include "support/link_wiring.h"

#include <QtTest>

namespace {

const Vb_Color Green = RGB(0, 255, 0);
const Vb_Color Yellow = RGB(255, 255, 0);

struct Rig {
    Harness h;
    Tool& t = h.t;
    Rig() { Wire_Link_Events(t); }
    // Opens the port and steps through probe and version.
    void connect() {
        h.open();
        h.step();
        h.step();
        QVERIFY(t.S.Connected);
    }
    int16_t state() const { return t.S.Task_State; }
};

void check_connected_look(const Tool& t, const QString& version) {
    QCOMPARE(t.F.Connection_Lbl.Caption(), QString::fromUtf8("Connecté "));
    QCOMPARE(t.F.Emul_Frm.BackColor(), Green);
    QVERIFY(t.F.Version_Lbl.Visible());
    QCOMPARE(t.F.Version_Lbl.Caption(), version);
}

void check_disconnected_look(const Tool& t) {
    QCOMPARE(t.F.Connection_Lbl.Caption(), QString::fromUtf8("Deconnecté"));
    QCOMPARE(t.F.Emul_Frm.BackColor(), Yellow);
    QVERIFY(!t.F.Version_Lbl.Visible());
}

} // namespace

class Tst_Connection : public QObject {
    Q_OBJECT
  private slots:
    void sequence_after_opening();
    void one_status_request_per_tick();
    void version_data();
    void version();
    void status_byte_data();
    void status_byte();
    void silent_board_after_opening();
    void brief_dropout_returns_straight_to_idle();
    void short_circuit_stays_until_disconnection_declared();
    void probe_before_any_opening();
};

void Tst_Connection::sequence_after_opening() {
    Rig r;
    r.h.open();
    QCOMPARE(r.state(), int16_t(Task::Probe_Interface));
    QCOMPARE(r.t.S.Probe_Retries, uint8_t(2));
    r.h.step();
    QCOMPARE(r.state(), int16_t(Task::Read_Version));
    QVERIFY(!r.t.S.Connected);
    check_disconnected_look(r.t);
    r.h.step();
    QCOMPARE(r.state(), int16_t(Task::Idle_Status));
    QCOMPARE(r.t.S.Probe_Retries, uint8_t(3));
    check_connected_look(r.t, "(Ver.3.1)");
    r.h.step();
    r.h.step();
    QCOMPARE(r.state(), int16_t(Task::Idle_Status));
    QCOMPARE(r.h.board.received(), bytes({0x01, 0x02, 0x08, 0x08}));
}

void Tst_Connection::one_status_request_per_tick() {
    Rig r;
    r.h.connect_board();
    r.h.board.clear_traffic();
    r.h.run_for(1000);
    const QByteArray line = r.h.board.received();
    // 100 ms ticks over one second; a loaded machine may lose a few, never add any.
    QVERIFY2(line.size() >= 5 && line.size() <= 11, qPrintable(line.toHex(' ')));
    QCOMPARE(line, QByteArray(line.size(), char(0x08)));
}

void Tst_Connection::version_data() {
    QTest::addColumn<int>("byte");
    QTest::addColumn<QString>("caption");
    QTest::newRow("0x30") << 0x30 << "(Ver.3.0)";
    QTest::newRow("0x31") << 0x31 << "(Ver.3.1)";
    QTest::newRow("0x3A") << 0x3A << "(Ver.3.10)";
    QTest::newRow("0x3F") << 0x3F << "(Ver.3.15)";
    QTest::newRow("0xFF") << 0xFF << "(Ver.15.15)";
    QTest::newRow("0x2F refused") << 0x2F << "";
    QTest::newRow("0x00 refused") << 0x00 << "";
}

void Tst_Connection::version() {
    QFETCH(int, byte);
    QFETCH(QString, caption);
    Rig r;
    r.h.board.loop().version = uint8_t(byte);
    r.h.open();
    for (int i = 0; i < 4; ++i)
        r.h.step();
    if (caption.isEmpty()) {
        QCOMPARE(r.state(), int16_t(Task::Read_Version));
        QVERIFY(!r.t.S.Connected);
        check_disconnected_look(r.t);
        QCOMPARE(r.h.board.received(), bytes({0x01, 0x02, 0x02, 0x02}));
    } else {
        QCOMPARE(r.state(), int16_t(Task::Idle_Status));
        check_connected_look(r.t, caption);
        QCOMPARE(r.h.board.received(), bytes({0x01, 0x02, 0x08, 0x08}));
    }
}

void Tst_Connection::status_byte_data() {
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("short_circuit");
    QTest::newRow("0x10") << 0x10 << true;
    QTest::newRow("0x11") << 0x11 << true;
    QTest::newRow("0xFF") << 0xFF << true;
    QTest::newRow("0x00") << 0x00 << false;
    QTest::newRow("0xEF") << 0xEF << false;
}

void Tst_Connection::status_byte() {
    QFETCH(int, status);
    QFETCH(bool, short_circuit);
    Rig r;
    r.connect();
    r.t.F.Cc_Lbl.setVisible(!short_circuit);
    r.h.board.loop().status = uint8_t(status);
    r.h.step();
    QCOMPARE(r.t.F.Cc_Lbl.Visible(), short_circuit);
    QCOMPARE(r.state(), int16_t(Task::Idle_Status));
    check_connected_look(r.t, "(Ver.3.1)");
}

void Tst_Connection::silent_board_after_opening() {
    Rig r;
    r.h.board.set_silent(true);
    r.t.F.Cc_Lbl.setVisible(true); // left over from an earlier connection
    r.h.open();

    r.h.step();
    QCOMPARE(r.t.S.Probe_Retries, uint8_t(1));
    QVERIFY(r.t.F.Cc_Lbl.Visible());
    r.h.step();
    QCOMPARE(r.t.S.Probe_Retries, uint8_t(3));
    QVERIFY(!r.t.F.Cc_Lbl.Visible());
    check_disconnected_look(r.t);
    QCOMPARE(r.state(), int16_t(Task::Probe_Interface));
    QCOMPARE(r.h.board.received(), bytes({0x01, 0x01}));
}

// A successful probe does not give the failed ones back: the next drop-out is declared after
// the probes left over from the first.
void Tst_Connection::brief_dropout_returns_straight_to_idle() {
    Rig r;
    r.connect();
    r.h.board.clear_traffic();

    r.h.board.set_silent(true);
    r.h.step(); // status request times out
    QCOMPARE(r.state(), int16_t(Task::Probe_Interface));
    QVERIFY(r.t.S.Connected);
    r.h.board.set_silent(false);
    // From here the board hangs up for each failure, so the probes fail without a time-out.
    r.h.board.hang_up();
    r.h.step();
    QCOMPARE(r.t.S.Probe_Retries, uint8_t(2));
    QVERIFY(r.h.board.come_back());
    r.h.step();
    QCOMPARE(r.state(), int16_t(Task::Idle_Status));
    check_connected_look(r.t, "(Ver.3.1)");
    QCOMPARE(r.h.board.received(), bytes({0x08, 0x01}));

    r.h.board.hang_up();
    r.h.step();
    QCOMPARE(r.state(), int16_t(Task::Probe_Interface));
    r.h.step();
    QCOMPARE(r.t.S.Probe_Retries, uint8_t(1));
    QVERIFY(r.t.S.Connected);
    r.h.step();
    QVERIFY(!r.t.S.Connected);
    QCOMPARE(r.t.S.Probe_Retries, uint8_t(3));
    check_disconnected_look(r.t);
}

void Tst_Connection::short_circuit_stays_until_disconnection_declared() {
    Rig r;
    r.h.board.loop().status = 0x10;
    r.connect();
    r.h.step();
    QVERIFY(r.t.F.Cc_Lbl.Visible());
    r.h.board.clear_traffic();

    r.h.board.set_silent(true);
    r.h.step();
    QCOMPARE(r.state(), int16_t(Task::Probe_Interface));
    for (int left = 2; left >= 1; --left) {
        r.h.step();
        QCOMPARE(r.t.S.Probe_Retries, uint8_t(left));
        QVERIFY(r.t.F.Cc_Lbl.Visible());
        check_connected_look(r.t, "(Ver.3.1)");
    }
    r.h.step();
    QVERIFY(!r.t.F.Cc_Lbl.Visible());
    QVERIFY(!r.t.S.Connected);
    check_disconnected_look(r.t);

    // Back after a declared disconnection: the version is read again.
    r.h.board.set_silent(false);
    r.h.step();
    QCOMPARE(r.state(), int16_t(Task::Read_Version));
    r.h.step();
    QCOMPARE(r.state(), int16_t(Task::Idle_Status));
    check_connected_look(r.t, "(Ver.3.1)");
    QCOMPARE(r.h.board.received(), bytes({0x08, 0x01, 0x01, 0x01, 0x01, 0x02}));
}

// The re-arm of a search can switch the task tick on before any port opening succeeded.
void Tst_Connection::probe_before_any_opening() {
    Rig r;
    r.t.S.Task_State = Task::Probe_Interface;
    r.t.S.Probe_Retries = 0;
    r.t.S.Connected = true;
    r.t.F.Cc_Lbl.setVisible(true);
    r.h.step();
    QCOMPARE(r.t.S.Probe_Retries, uint8_t(3));
    QVERIFY(!r.t.S.Connected);
    QVERIFY(!r.t.F.Cc_Lbl.Visible());
    check_disconnected_look(r.t);
    QCOMPARE(r.h.board.received(), QByteArray());
}

QTEST_GUILESS_MAIN(Tst_Connection)
#include "tst_connection.moc"
