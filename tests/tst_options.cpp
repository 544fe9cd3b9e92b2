// The window program's command line: what each option gives, and the mistakes it refuses.
#include "app/command_line.h"

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
        row("--port /dev/ttyUSB0 --trace=/tmp/a b", "error"); // "b" is a stray argument
        row("--port COM3 --port /dev/serial/by-id/x", "port 0 /dev/serial/by-id/x trace ");
        row("--port COM0", "error");
        row("--port COM17", "error");
        row("--port 3", "error");
        row("--port", "error");
        row("--trace=", "error");
        row("--bogus", "error");
        row("COM3", "error");
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
        QString got = QStringLiteral("%1%2%3port %4 %5 trace %6")
                          .arg(c.help ? "help " : "", c.version ? "version " : "",
                               c.list_ports ? "list " : "")
                          .arg(c.port_number)
                          .arg(c.port_path, c.trace);
        QCOMPARE(got, want);
    }
};

QTEST_MAIN(Tst_Options)
#include "tst_options.moc"
