// Opening the port against the simulated board on real pseudo-terminals: a port that cannot be
// opened, one that appears later, one held by another tool, and a board that hangs up.
#include "app/shell.h"
#include "engine/com_port.h"
#include "engine/tempo.h"
#include "link/qt_serial_port.h"
#include "support/harness.h"

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

class Tst_Port : public QObject {
    Q_OBJECT

  private slots:
    // A port that cannot be opened is reported once; nothing more goes on the line meanwhile.
    void port_that_cannot_open() {
        Harness h;
        wire_handlers(h.t);
        h.open();
        h.t.form.Cc_Lbl.set_visible(true); // left by the board of the port that was open
        // A link to nothing, so no real serial port of the machine can answer for it.
        QFile::link(h.dir.filePath("nothing"), h.dir.filePath("COM16"));
        h.t.state.Com_Port = 16;
        Open_Com_Port(h.t);
        QCOMPARE(h.dialogs.messages.size(), 1);
        QCOMPARE(h.dialogs.messages[0].prompt,
                 QStringLiteral("Le port Com16 n'existe pas ou n'est pas libre !"));
        QVERIFY(!h.t.form.Timer_Tache.isActive() && !h.t.link.Comm1()->PortOpen());
        QVERIFY(!h.t.form.Cc_Lbl.Visible());
        h.board.clear_traffic();
        h.run_for(300);
        QCOMPARE(h.board.received(), QByteArray());
    }

    // COM1 does not exist at the start: the tool reports it once and keeps trying, or falls back
    // on a silent /dev/ttyS0. Once COM1 appears it connects, and the interface panel names the
    // device. On a clock five times faster: a retry every 400 ms.
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
        wire_handlers(h.t);
        set_clock_divider(h.t, 5);
        h.open();
        h.run_for(1000);
        QVERIFY(!h.t.state.Connected);
        QVERIFY(QFile::rename(h.dir.filePath("away"), h.board.link_path()));
        QVERIFY(h.run_until([&] { return h.t.state.Task_State == Task::Idle_Status; }, 5000));
        QCOMPARE(h.dialogs.messages.size(), fallback_opens ? 0 : 1);
        QVERIFY2(h.t.form.Emul_Frm.ToolTipText().endsWith(
                     h.board.link_path() + QString::fromUtf8(" → ") + h.board.terminal_path()),
                 qPrintable(h.t.form.Emul_Frm.ToolTipText()));
    }

    // Another port chosen: the first is let go before the second is probed, and two tools whose
    // COM1 leads to the same device cannot both hold it.
    void one_tool_per_device() {
        Harness h;
        loopsim::Board second;
        QVERIFY(second.start(h.dir.path(), 2));
        wire_handlers(h.t);
        h.connect_board();
        QTemporaryDir other;
        QVERIFY(QFile::link(h.board.terminal_path(), other.filePath("COM1")));
        QDir::setCurrent(other.path());
        auto rival = make_qt_serial_port();
        QVERIFY(!rival->open(1));
        QDir::setCurrent(h.dir.path());
        h.board.clear_traffic();
        h.t.state.Com_Port = 2;
        Open_Com_Port(h.t);
        QVERIFY(h.run_until([&] { return second.received().size() >= 3; }, 3000));
        QCOMPARE(second.received().left(3), QByteArray("\x01\x02\x08"));
        QCOMPARE(h.board.received(), QByteArray());
        QDir::setCurrent(other.path());
        QVERIFY(rival->open(1));
        rival->close();
        QDir::setCurrent(h.dir.path());
    }

    // The board hangs up while the tool waits for a reply: the wait ends at once, the tool keeps
    // trying without burning the processor, and it connects again when the board is back.
    void hang_up_then_return_reconnects() {
        Harness h;
        wire_handlers(h.t);
        h.connect_board();
        h.board.set_reply_delay(1500);
        QTimer::singleShot(100, &h.board, [&] { h.board.hang_up(); });
        QElapsedTimer e;
        e.start();
        h.step(); // the status request waits when the board goes
        QVERIFY2(e.elapsed() < 1000, qPrintable(QString::number(e.elapsed())));
        QCOMPARE(h.t.state.Task_State, int16_t(Task::Probe_Interface));
        h.board.set_reply_delay(0);

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
        QCOMPARE(line.left(3), QByteArray("\x01\x02\x08"));
        QVERIFY2(line.size() <= 14, qPrintable(line.toHex(' ')));
        QCOMPARE(line.mid(2), QByteArray(line.size() - 2, char(0x08)));
        QVERIFY(h.dialogs.messages.isEmpty());
    }
};

QTEST_GUILESS_MAIN(Tst_Port)
#include "tst_port.moc"
