// The serial link and the bus task against the simulated board on a real pseudo-terminal: device
// names, port opening, the byte exchange, command frames, the watch over the interface board and
// the LED command.
#include "engine/com_port.h"
#include "engine/led.h"
#include "engine/tempo.h"
#include "link/qt_serial_port.h"
#include "support/harness.h"
#include "support/link_wiring.h"

#include <QtTest>
#include <sys/resource.h>

namespace {

double cpu_seconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

void check_look(const Tool& t, const QString& version) {
    const bool connected = !version.isEmpty();
    QCOMPARE(t.form.Connection_Lbl.Caption(),
             QString::fromUtf8(connected ? "Connecté " : "Deconnecté"));
    QCOMPARE(t.form.Emul_Frm.BackColor(), connected ? RGB(0, 255, 0) : RGB(255, 255, 0));
    QCOMPARE(t.form.Version_Lbl.Visible(), connected);
    if (connected) QCOMPARE(t.form.Version_Lbl.Caption(), version);
}

} // namespace

class Tst_Link : public QObject {
    Q_OBJECT

  private slots:
    void port_that_cannot_open_data() {
        QTest::addColumn<int>("number");
        for (int n : {3, 10, 16})
            QTest::newRow(qPrintable(QString::number(n))) << n;
    }

    void port_that_cannot_open() {
        QFETCH(int, number);
        Harness h;
        wire_link_events(h.t);
        h.open();
        QVERIFY(h.t.form.Timer_Tache.isActive());
        h.t.form.Cc_Lbl.set_visible(true); // left by the board of the port that was open
        // A link to nothing, so no real serial port of the machine can answer for it.
        QFile::link(h.dir.filePath("nothing"), h.dir.filePath(QStringLiteral("COM%1").arg(number)));
        h.t.state.Com_Port = uint8_t(number);
        Open_Com_Port(h.t);

        QCOMPARE(h.dialogs.messages.size(), 1);
        QCOMPARE(h.dialogs.messages[0].prompt,
                 QStringLiteral("Le port Com%1 n'existe pas ou n'est pas libre !").arg(number));
        QCOMPARE(h.dialogs.messages[0].style, 48);
        QCOMPARE(h.dialogs.messages[0].title, QStringLiteral("Erreur Port Com"));
        QVERIFY(!h.t.form.Timer_Tache.isActive());
        QVERIFY(!h.t.link.Comm1()->PortOpen());
        QVERIFY(!h.t.form.Cc_Lbl.Visible());
        QCOMPARE(h.t.state.Task_State, int16_t(Task::Probe_Interface));
        h.board.clear_traffic();
        h.run_for(300);
        QCOMPARE(h.board.received(), QByteArray());
    }

    // COM1 does not exist at the start: the tool reports a port it cannot open once and keeps
    // trying it, or falls back on a silent /dev/ttyS0. Once COM1 appears it connects, and the
    // interface panel names the device. On a clock five times faster: a retry every 400 ms.
    void port_that_comes_later_data() {
        QTest::addColumn<bool>("fallback_opens");
        QTest::newRow("no fallback device") << false;
        QTest::newRow("silent fallback device") << true;
    }
    void port_that_comes_later() {
        QFETCH(bool, fallback_opens);
        Harness h;
        QTemporaryDir elsewhere;
        loopsim::Board fallback;
        if (fallback_opens) {
            QVERIFY(fallback.start(elsewhere.path(), 9));
            fallback.set_silent(true);
            QVERIFY(QFile::link(fallback.terminal_path(), elsewhere.filePath("ttyS0")));
        }
        h.t.link.set_port(make_qt_serial_port(elsewhere.filePath("ttyS%1")));
        QVERIFY(QFile::rename(h.board.link_path(), h.dir.filePath("away")));
        wire_link_events(h.t);
        set_clock_divider(h.t, 5);
        h.open();
        h.run_for(1000);
        QVERIFY(!h.t.state.Connected);
        QVERIFY(QFile::rename(h.dir.filePath("away"), h.board.link_path()));
        QVERIFY(h.run_until([&] { return h.t.state.Task_State == Task::Idle_Status; }, 5000));
        QCOMPARE(h.dialogs.messages.size(), fallback_opens ? 0 : 1);
        QCOMPARE(h.board.received().left(2), bytes({0x01, 0x02}));
        QVERIFY2(h.t.form.Emul_Frm.ToolTipText().endsWith(
                     h.board.link_path() + QString::fromUtf8(" → ") + h.board.terminal_path()),
                 qPrintable(h.t.form.Emul_Frm.ToolTipText()));
    }

    void other_port_closes_first() {
        Harness h;
        loopsim::Board second;
        QVERIFY(second.start(h.dir.path(), 2));
        wire_link_events(h.t);
        h.connect_board();
        h.board.clear_traffic();
        h.t.state.Com_Port = 2;
        Open_Com_Port(h.t);
        QVERIFY(h.run_until([&] { return second.received().size() >= 3; }, 3000));
        QCOMPARE(second.received().left(3), bytes({0x01, 0x02, 0x08}));
        QCOMPARE(h.board.received(), QByteArray());
        // COM1 is free again: another program can take it.
        auto other = make_qt_serial_port();
        QVERIFY(other->open(1));
        other->close();
        h.t.link.Comm1()->close();
        QVERIFY(h.dialogs.messages.isEmpty());
    }

    // Two tools started in different directories whose COM1 links lead to the same device: the
    // second is refused, root or not, until the first lets the device go.
    void one_tool_per_device() {
        Harness h;
        h.open();
        QVERIFY(h.t.link.Comm1()->PortOpen());
        QTemporaryDir other;
        QVERIFY(QFile::link(h.board.terminal_path(), other.filePath("COM1")));
        QDir::setCurrent(other.path());
        auto second = make_qt_serial_port();
        QVERIFY(!second->open(1));
        h.t.link.Comm1()->close();
        QVERIFY(second->open(1));
        QDir::setCurrent(h.dir.path());
    }

    void hang_up_then_return_reconnects() {
        Harness h;
        wire_link_events(h.t);
        h.connect_board();
        h.board.set_reply_delay(1500);
        QTimer::singleShot(100, &h.board, [&] { h.board.hang_up(); });
        QElapsedTimer e;
        e.start();
        h.step(); // the status request waits when the board goes
        QVERIFY2(e.elapsed() < 1000, qPrintable(QString::number(e.elapsed())));
        QVERIFY(!h.t.link.Comm1()->PortOpen());
        QCOMPARE(h.t.state.Task_State, int16_t(Task::Probe_Interface));
        h.board.set_reply_delay(0);

        // Gone for a while: the task keeps trying, quietly and without an error flood.
        const double cpu_before = cpu_seconds();
        e.restart();
        h.run_for(1000);
        const double share = (cpu_seconds() - cpu_before) / (double(e.elapsed()) / 1000.0);
        QVERIFY2(share < 0.3, qPrintable(QString("CPU share %1").arg(share)));
        QVERIFY(!h.t.state.Connected);

        h.board.clear_traffic();
        QVERIFY(h.board.come_back());
        QVERIFY(h.run_until([&] { return h.t.state.Connected; }, 3000));
        h.run_for(1000);
        // One status request per 100 ms tick; a loaded machine may lose many, never add any.
        const QByteArray line = h.board.received();
        QCOMPARE(line.left(3), bytes({0x01, 0x02, 0x08}));
        QVERIFY2(line.size() <= 14, qPrintable(line.toHex(' ')));
        QCOMPARE(line.mid(2), QByteArray(line.size() - 2, char(0x08)));
        QCOMPARE(h.t.form.Emul_Frm.BackColor(), RGB(0, 255, 0));
        QVERIFY(h.dialogs.messages.isEmpty());
    }

    void silent_board_times_out() {
        Harness h;
        Open_Quiet(h);
        h.board.set_silent(true);
        h.t.link.Rx_Bytes = bytes({0x31});
        int send_on = 0, receive_on = 0;
        QObject::connect(&h.t.form.Send_Shp, &Control::changed, &h.t.form,
                         [&] { send_on += h.t.form.Send_Shp.Visible(); });
        QObject::connect(&h.t.form.Receive_Shp, &Control::changed, &h.t.form,
                         [&] { receive_on += h.t.form.Receive_Shp.Visible(); });
        QElapsedTimer e;
        e.start();
        QVERIFY(!h.t.link.Send_Frame(0x14, 0x01, 0x00, false, false));
        QVERIFY2(e.elapsed() >= 1950 && e.elapsed() < 3000,
                 qPrintable(QString::number(e.elapsed())));
        QCOMPARE(h.board.received(), bytes({0x40}));
        QCOMPARE(h.t.link.Rx_Bytes, bytes({0x31}));
        QCOMPARE(send_on, 1);
        QCOMPARE(receive_on, 0);
        QVERIFY(!h.t.form.Send_Shp.Visible());
        QVERIFY(!h.t.link.Link_Busy);
    }

    // A board that answers after the reply time-out reads as a silent one: the late byte of a
    // failed exchange is never taken for the answer to the next request (0x31, the version, read
    // as a status with its short-circuit bit). One that answers just in time connects. On a clock
    // five times faster: a 400 ms time-out.
    void late_board_data() {
        QTest::addColumn<int>("delay_ms");
        QTest::addColumn<bool>("connects");
        QTest::newRow("2.5 s") << 500 << false;
        QTest::newRow("2.2 s") << 440 << false;
        QTest::newRow("1.6 s, in time") << 320 << true;
    }
    void late_board() {
        QFETCH(int, delay_ms);
        QFETCH(bool, connects);
        Harness h;
        wire_link_events(h.t);
        set_clock_divider(h.t, 5);
        h.board.set_reply_delay(delay_ms);
        bool ever_green = false, ever_short = false;
        QObject::connect(&h.t.form.Emul_Frm, &Control::changed, &h.t.form,
                         [&] { ever_green |= h.t.form.Emul_Frm.BackColor() == RGB(0, 255, 0); });
        QObject::connect(&h.t.form.Cc_Lbl, &Control::changed, &h.t.form,
                         [&] { ever_short |= h.t.form.Cc_Lbl.Visible(); });
        h.open();
        h.run_until([&] { return h.board.received().size() >= 5; }, 8000);
        QCOMPARE(ever_green, connects);
        QVERIFY(!ever_short);
        if (!connects) QCOMPARE(h.board.received(), QByteArray(5, 0x01));
    }

    // replies that come while no exchange waits, before an opening and before a byte, are thrown
    // away and never taken for the next reply.
    void stale_bytes_drained() {
        Harness h;
        Open_Quiet(h);
        h.board.loop().version = 0x3A;
        // The reply comes while the port is closed, so it waits in the terminal for the opening.
        h.board.set_reply_delay(100);
        QVERIFY(h.t.link.Comm1()->Output(0x02));
        h.t.link.Comm1()->close();
        QTRY_COMPARE_WITH_TIMEOUT(h.board.sent(), bytes({0x3A}), 1000);
        QTest::qWait(50);
        h.board.set_reply_delay(0);
        h.t.link.Rx_Bytes.clear();
        h.open();
        QCOMPARE(h.t.link.Rx_Bytes, bytes({0x3A}));
        QCOMPARE(h.t.link.Comm1()->InBufferCount(), 0);

        h.t.form.Timer_Tache.stop();
        QVERIFY(h.t.link.Comm1()->Output(0x02));
        QTRY_COMPARE_WITH_TIMEOUT(h.t.link.Comm1()->InBufferCount(), 1, 1000);
        h.board.loop().version = 0x3B;
        QVERIFY(h.t.link.Exchange_Byte(0x02, 1));
        QCOMPARE(h.t.link.Rx_Bytes, bytes({0x3B}));
        QVERIFY(h.t.form.Receive_Shp.Visible());
        QTRY_VERIFY_WITH_TIMEOUT(!h.t.form.Receive_Shp.Visible() && !h.t.form.Send_Shp.Visible(),
                                 500);
        QCOMPARE(h.board.received(), bytes({0x02, 0x02, 0x02}));
    }

    // An exchange asked for while another one waits must not reach the line.
    void nested_exchange_refused() {
        Harness h;
        Open_Quiet(h);
        h.board.set_reply_delay(300);
        int nested = -1;
        QTimer::singleShot(100, &h.t.form, [&] { nested = h.t.link.Exchange_Byte(0x08, 1); });
        QVERIFY(h.t.link.Exchange_Byte(0x01, 1));
        QCOMPARE(nested, 0);
        QCOMPARE(h.t.link.Rx_Bytes, bytes({0x01}));
        QCOMPARE(h.board.received(), bytes({0x01}));
    }

    // A box held open while an exchange waits: the reply that came in time counts, though the
    // time-out has fired in the box's own event loop. On a clock five times faster.
    void reply_in_time_behind_an_open_box() {
        Harness h;
        Open_Quiet(h);
        set_clock_divider(h.t, 5);
        h.board.set_reply_delay(50);
        h.dialogs.while_open = [] { QTest::qWait(700); };
        QTimer::singleShot(10, &h.t.form, [&] { h.t.dialogs->show_about(); });
        QVERIFY(h.t.link.Send_Command(0x01, 0x01));
        QCOMPARE(h.dialogs.about_shown, 1);
    }

    // Frame bytes go out unescaped and every reply byte is kept; a frame stops at the first byte
    // not echoed exactly, and the next one starts with a new header.
    void frame_data() {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QByteArray>("args"); // P0, P1, P2, flag A, flag B
        QTest::addColumn<QByteArray>("wire");
        QTest::addColumn<QByteArray>("reply"); // empty: the frame fails
        const auto row = [](const char* name, const char* fault, const QByteArray& args,
                            const QByteArray& wire, const QByteArray& reply) {
            QTest::newRow(name) << QString(fault) << args << wire << reply;
        };
        const QByteArray led = bytes({0x82, 0x07, 0x03, 1, 0});
        row("P1 0x40, P2 0x41", "paced", bytes({0x96, 0x40, 0x41, 1, 0}),
            bytes({0x41, 0x96, 0x40, 0x41}), bytes({0x01, 0x00}));
        row("P1 0x41, P2 0x40, longer reply", "extra", bytes({0x81, 0x41, 0x40, 1, 0}),
            bytes({0x41, 0x81, 0x41, 0x40}), bytes({0x01, 0x00, 0xE0, 0xE1, 0xE2}));
        row("flag B, three-byte reply", "paced", bytes({0x13, 0x01, 0x00, 0, 1}),
            bytes({0x42, 0x13, 0x01, 0x00}), bytes({0x00, 0x13, 0x00}));
        row("wrong echo of header", "wrong 1", led, bytes({0x41}), {});
        row("wrong echo of P0", "wrong 2", led, bytes({0x41, 0x82}), {});
        row("wrong echo of P1", "wrong 3", led, bytes({0x41, 0x82, 0x07}), {});
        row("no echo of P0", "stop 2", led, bytes({0x41, 0x82}), {});
    }
    void frame() {
        QFETCH(QString, fault);
        QFETCH(QByteArray, args);
        QFETCH(QByteArray, wire);
        QFETCH(QByteArray, reply);
        Harness h;
        // Bytes a millisecond apart, as on the real line, so a reply read too early shows; extra
        // bytes sent at once, so they are sure to be waiting with the reply.
        h.board.set_paced(fault == "paced");
        h.board.set_extra_bytes(fault == "extra" ? 3 : 0);
        const int k = fault.right(1).toInt();
        fault.startsWith("wrong") ? h.board.set_wrong_echo(k) : h.board.set_echo_stop(k);
        Open_Quiet(h);
        const auto a = [&](int i) { return uint8_t(args[i]); };
        QCOMPARE(h.t.link.Send_Frame(a(0), a(1), a(2), args[3], args[4]), !reply.isEmpty());
        QTest::qWait(50); // a byte sent after a failure would show here
        QCOMPARE(h.board.received(), wire);
        if (!reply.isEmpty()) QCOMPARE(h.t.link.Rx_Bytes, reply);
        h.board.set_wrong_echo(0);
        h.board.set_echo_stop(0);
        h.board.set_extra_bytes(0);
        QVERIFY(h.t.link.Send_Frame(0x15, 0x01, 0x00, false, false));
        QCOMPARE(h.board.received(), wire + bytes({0x40, 0x15, 0x01, 0x00}));
        QCOMPARE(h.t.link.Rx_Bytes, bytes({0x00, 0x31}));
    }

    void states_without_step() {
        Harness h;
        Open_Quiet(h);
        for (int state : {0, 10, 11, 12, 13, 14, 15, 17, -1, -32768}) {
            h.t.state.Task_State = int16_t(state);
            h.step();
            QCOMPARE(h.t.state.Task_State, int16_t(Task::Probe_Interface));
        }
        QTest::qWait(30);
        QCOMPARE(h.board.received(), QByteArray());
        QVERIFY(!h.t.form.is_unloaded());
    }

    // The re-arm of a search can switch the task tick on before any port opening succeeded: the
    // count of failed probes, still 0, must not wrap.
    void probe_before_any_opening() {
        Harness h;
        h.t.state.Task_State = Task::Probe_Interface;
        h.t.state.Connected = true;
        h.t.form.Cc_Lbl.set_visible(true);
        h.step();
        QCOMPARE(h.t.state.Probe_Retries, uint8_t(3));
        QVERIFY(!h.t.state.Connected);
        QVERIFY(!h.t.form.Cc_Lbl.Visible());
        check_look(h.t, "");
        QCOMPARE(h.board.received(), QByteArray());
    }

    // What the board answers to the version request (0x02) and then to the status request (0x08).
    void version_and_status_data() {
        QTest::addColumn<int>("version");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("caption"); // empty: refused, the version is asked again
        QTest::addColumn<bool>("short_circuit");
        QTest::newRow("0x30, 0x10") << 0x30 << 0x10 << "(Ver.3.0)" << true;
        QTest::newRow("0x3A, 0x11") << 0x3A << 0x11 << "(Ver.3.10)" << true;
        QTest::newRow("0x3F, 0xFF") << 0x3F << 0xFF << "(Ver.3.15)" << true;
        QTest::newRow("0x31, 0x00") << 0x31 << 0x00 << "(Ver.3.1)" << false;
        QTest::newRow("0x31, 0xEF") << 0x31 << 0xEF << "(Ver.3.1)" << false;
        QTest::newRow("0x2F") << 0x2F << 0x10 << "" << false;
    }

    void version_and_status() {
        QFETCH(int, version);
        QFETCH(int, status);
        QFETCH(QString, caption);
        QFETCH(bool, short_circuit);
        Harness h;
        h.board.loop().version = uint8_t(version);
        h.board.loop().status = uint8_t(status);
        Open_Quiet(h);
        h.t.form.Cc_Lbl.set_visible(!short_circuit && !caption.isEmpty());
        for (int i = 0; i < 4; ++i)
            h.step();
        check_look(h.t, caption);
        QCOMPARE(h.t.form.Cc_Lbl.Visible(), short_circuit);
        QCOMPARE(h.board.received(), caption.isEmpty() ? bytes({0x01, 0x02, 0x02, 0x02})
                                                       : bytes({0x01, 0x02, 0x08, 0x08}));
    }

    // The board goes (it hangs up, so each failure is immediate) and comes back. A successful probe
    // does not give the failed ones back, and a short circuit stays shown until the disconnection
    // is declared.
    void drop_outs_and_declared_disconnection() {
        Harness h;
        Open_Quiet(h);
        h.t.form.Cc_Lbl.set_visible(true); // left over from an earlier connection
        h.board.hang_up();
        const auto step_expect = [&](int state, int retries, bool connected, bool cc) {
            h.step();
            QCOMPARE(h.t.state.Task_State, int16_t(state));
            QCOMPARE(h.t.state.Probe_Retries, uint8_t(retries));
            QCOMPARE(h.t.state.Connected, connected);
            QCOMPARE(h.t.form.Cc_Lbl.Visible(), cc);
        };
        // Just after the opening: declared after two failed probes.
        step_expect(1, 1, false, true);
        step_expect(1, 3, false, false);
        check_look(h.t, "");

        QVERIFY(h.board.come_back());
        h.board.loop().status = 0x10;
        step_expect(2, 3, false, false);
        step_expect(9, 3, true, false);
        step_expect(9, 3, true, true);

        h.board.hang_up();
        step_expect(1, 3, true, true);
        step_expect(1, 2, true, true);
        QVERIFY(h.board.come_back());
        step_expect(9, 2, true, true); // straight back, the version is not read again

        h.board.hang_up();
        step_expect(1, 2, true, true);
        step_expect(1, 1, true, true);
        check_look(h.t, "(Ver.3.1)");
        step_expect(1, 3, false, false);
        check_look(h.t, "");

        QVERIFY(h.board.come_back());
        step_expect(2, 3, false, false);
        step_expect(9, 3, true, false);
        // Requests made while the board was gone never reached it.
        QCOMPARE(h.board.received(), bytes({0x01, 0x02, 0x08, 0x01, 0x01, 0x02}));
    }

    // Clicks on LED ON (+address) and LED OFF (-address), each followed by its step. Every frame is
    // followed by a 100 ms pause.
    void led_data() {
        QTest::addColumn<QList<int>>("clicks");
        QTest::addColumn<int>("refuse_from"); // from this click on, the clicked detector refuses
        QTest::addColumn<bool>("simulation");
        QTest::addColumn<QByteArray>("wire");
        QTest::addColumn<QList<int>>("marks");
        QTest::addColumn<int>("led_address");
        const auto row = [](const char* name, QList<int> clicks, int refuse_from, bool simulation,
                            const QByteArray& wire, QList<int> marks, int led_address) {
            QTest::newRow(name) << clicks << refuse_from << simulation << wire << marks
                                << led_address;
        };
        const QByteArray on5 = bytes({0x41, 0x82, 0x05, 0x03}),
                         off5 = bytes({0x41, 0x82, 0x05, 0x00});
        row("on 5, on 7", {5, 7}, -1, false, on5 + off5 + bytes({0x41, 0x82, 0x07, 0x03}), {7}, 7);
        row("on 5, off 5, on 5", {5, -5, 5}, -1, false, on5 + off5 + off5 + on5, {5}, 5);
        row("off where nothing was lit", {-9}, -1, false, bytes({0x41, 0x82, 0x09, 0x00}), {}, 0);
        row("on refused", {4}, 0, false, bytes({0x41, 0x82, 0x04, 0x03}), {}, 4);
        row("off refused keeps the mark", {5, -5}, 1, false, on5 + off5, {5}, 5);
        row("on 6 during the simulation", {6}, -1, true, bytes({0x41, 0x82, 0x06, 0x03}), {}, 6);
    }

    void led() {
        QFETCH(QList<int>, clicks);
        QFETCH(int, refuse_from);
        QFETCH(bool, simulation);
        QFETCH(QByteArray, wire);
        QFETCH(QList<int>, marks);
        QFETCH(int, led_address);
        Harness h;
        Open_Quiet(h);
        h.t.state.Simulation_Active = simulation;
        Line_Clock line(h.board);
        QElapsedTimer e;
        e.start();
        for (int i = 0; i < clicks.size(); ++i) {
            const int adr = qAbs(clicks[i]);
            if (i == refuse_from) h.board.loop().detectors[adr].refused.insert(0x82);
            h.t.state.Sel_Adr = uint8_t(adr);
            clicks[i] > 0 ? Led_On_Cde_Click(h.t) : Led_Off_Cde_Click(h.t);
            QCOMPARE(h.t.state.Task_State, int16_t(Task::Led_Command));
            h.step();
            QCOMPARE(h.t.state.Task_State,
                     int16_t(simulation ? Task::Simulation_Poll : Task::Probe_Interface));
        }
        const qint64 ms = e.elapsed();
        QCOMPARE(h.board.received(), wire);
        for (int adr = 1; adr <= 128; ++adr)
            QVERIFY2(h.t.form.Led_Shp(adr).Visible() == marks.contains(adr),
                     qPrintable(QString::number(adr)));
        QCOMPARE(h.t.state.Led_Address, uint8_t(led_address));
        for (int i = 4; i < line.bytes.size(); i += 4)
            QVERIFY2(line.gap_before(i) >= 95, qPrintable(QString::number(line.gap_before(i))));
        QVERIFY2(ms >= 100 * wire.size() / 4 - 5, qPrintable(QString::number(ms)));
    }

    // A click on LED ON while the status poll waits for a reply that never comes is not lost.
    void led_click_during_failing_poll() {
        Harness h;
        Open_Quiet(h);
        h.step();
        h.step();
        h.board.clear_traffic();
        h.board.set_silent(true);
        QTimer::singleShot(100, &h.t.form, [&] {
            h.t.state.Sel_Adr = 5;
            Led_On_Cde_Click(h.t);
        });
        h.step();
        QCOMPARE(h.t.state.Task_State, int16_t(Task::Led_Command));
        h.board.set_silent(false);
        h.step();
        QCOMPARE(h.board.received(), bytes({0x08, 0x41, 0x82, 0x05, 0x03}));
        QVERIFY(h.t.form.Led_Shp(5).Visible());
    }
};

QTEST_GUILESS_MAIN(Tst_Link)
#include "tst_link.moc"
