// The window program's command line: what each option gives, and the mistakes it refuses.
#include "app/adapters.h"
#include "app/command_line.h"
#include "app/menus.h"
#include "app/settings.h"
#include "support/harness.h"

#include <QtTest>

class Tst_Options : public QObject {
    Q_OBJECT
  private slots:
    void parse_data() {
        QTest::addColumn<QString>("args");
        QTest::addColumn<QString>("want"); // what was understood, or "error"
        const auto row = [](const char* args, const char* want) {
            QTest::newRow(args) << QString(args) << QString(want);
        };
        row("", "port 0  trace ");
        row("-h", "help port 0  trace ");
        row("--version --list-ports", "version list port 0  trace ");
        row("--port COM3", "port 3  trace ");
        row("--port=com16 --trace t.txt", "port 16  trace t.txt");
        row("--port /dev/ttyUSB0 --trace=/tmp/a b", "port 0 /dev/ttyUSB0 trace /tmp/a site b");
        row("--port COM3 --port /dev/serial/by-id/x", "port 0 /dev/serial/by-id/x trace ");
        row("--port COM0", "error");
        row("--port COM17", "error");
        row("--port 3", "error");
        row("--port", "error");
        row("--trace=", "error");
        row("--bogus", "error");
        row("COM3", "port 0  trace  site COM3"); // a site file, whatever its name
        row("/tmp/x.kalsite", "port 0  trace  site /tmp/x.kalsite");
        row("--port COM2 -platform offscreen x.kalsite", "port 2  trace  site x.kalsite");
        row("a.kalsite b.kalsite", "error");   // one site file at a time
        row("a.kalsite --port COM3", "error"); // options come first
        row("--last-site --port COM2", "last-site port 2  trace ");
        row("--last-site a.kalsite", "error"); // the last site or the one named, not both
    }
    void parse() {
        QFETCH(QString, args);
        QFETCH(QString, want);
        const Command_Line c = parse_command_line(args.split(' ', Qt::SkipEmptyParts));
        if (want == QLatin1String("error")) {
            QVERIFY(!c.error.isEmpty());
            return;
        }
        QVERIFY2(c.error.isEmpty(), qPrintable(c.error));
        QString got = QStringLiteral("%1%2%3%4port %5 %6 trace %7")
                          .arg(c.help ? "help " : "", c.version ? "version " : "",
                               c.list_ports ? "list " : "", c.last_site ? "last-site " : "")
                          .arg(c.port_number)
                          .arg(c.port_path, c.trace);
        if (!c.site.isEmpty()) got += QStringLiteral(" site ") + c.site;
        QCOMPARE(got, want);
    }

    // A port given on the command line serves this run only: the settings file keeps the one
    // it had, whatever else is saved meanwhile, until the user picks a port in the menu.
    void port_of_the_run_is_not_stored_data() {
        QTest::addColumn<bool>("by_path");      // --port PATH, else --port COM5
        QTest::addColumn<QString>("menu_port"); // then chosen in "Port Série", or none
        QTest::addColumn<QByteArray>("stored");
        QTest::newRow("COM5") << false << QString() << QByteArray(" 2\r\n 2\r\n");
        QTest::newRow("device path") << true << QString() << QByteArray(" 2\r\n 2\r\n");
        QTest::newRow("COM5, then the menu") << false << "5" << QByteArray(" 5\r\n 2\r\n");
    }
    void port_of_the_run_is_not_stored() {
        QFETCH(bool, by_path);
        QFETCH(QString, menu_port);
        QFETCH(QByteArray, stored);
        Harness h(loopsim::default_loop(), 5);
        // An adapter remembered by name is forgotten only by a port chosen by its number.
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, h.dir.path());
        QSettings("kalvenor", "kalvenor").setValue("port/adapter", "/dev/serial/by-id/usb-x");
        QFile cfg(config_path());
        QVERIFY(cfg.open(QIODevice::WriteOnly) && cfg.write(" 2\r\n 1\r\n") > 0);
        cfg.close();
        if (by_path)
            h.t.port_for_run.path = h.dir.filePath("COM5");
        else
            h.t.port_for_run.number = 5;
        h.load();
        QVERIFY(h.run_until([&] { return h.t.state.Connected; }, 5000)); // on COM5's board
        Phase_Option_Click(h.t, 2);                                      // saves the settings
        if (!menu_port.isEmpty()) {
            h.dialogs.answers << menu_port;
            Serial_Com_Port_Mnu_Click(h.t);
        }
        QVERIFY(cfg.open(QIODevice::ReadOnly));
        QCOMPARE(cfg.readAll(), stored);
        QCOMPARE(remembered_adapter().isEmpty(), !menu_port.isEmpty());
    }
};

QTEST_MAIN(Tst_Options)
#include "tst_options.moc"
