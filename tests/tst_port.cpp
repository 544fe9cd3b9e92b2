// Opening the port against the simulated board on real pseudo-terminals: a port that appears
// later, and one held by another tool.
#include "app/shell.h"
#include "engine/com_port.h"
#include "engine/tempo.h"
#include "link/qt_serial_port.h"
#include "support/harness.h"

#include <QtTest>

class Tst_Port : public QObject {
    Q_OBJECT

  private slots:
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
        QCOMPARE(h.t.form.Emul_Frm.ToolTipText().section(" : ", 1),
                 h.board.link_path() + QString::fromUtf8(" → ") + h.board.terminal_path());
    }

    // Another port chosen: the first is let go before the second is probed, and two tools whose
    // COM1 leads to the same device cannot both hold it.
    void one_tool_per_device() {
        Harness h;
        loopsim::Board second;
        QVERIFY(second.start(h.dir.path(), 2));
        wire_handlers(h.t);
        h.connect_board();
        // The rival finds no COM3 here and takes its fallback: another name for the board's device.
        QTemporaryDir other;
        QVERIFY(QFile::link(h.board.terminal_path(), other.filePath("tty2")));
        auto rival = make_qt_serial_port(other.filePath("tty%1"));
        QVERIFY(!rival->open(3));
        QCOMPARE(rival->open_failure(), Serial_Port::Open_Failure::Busy);
        h.board.clear_traffic();
        h.t.state.Com_Port = 2;
        Open_Com_Port(h.t);
        QVERIFY(h.run_until([&] { return second.received().size() >= 3; }, 3000));
        QCOMPARE(second.received().left(3), QByteArray("\x01\x02\x08"));
        QCOMPARE(h.board.received(), QByteArray());
        QVERIFY(rival->open(3));
    }
};

QTEST_GUILESS_MAIN(Tst_Port)
#include "tst_port.moc"
