// kalvenor-cli as a script runs it, against the simulated board: what each command prints and
// the exit status it ends with.
#include "tools/loopsim/board.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>

class Tst_Cli : public QObject {
    Q_OBJECT
  private slots:
    void commands_data() {
        QTest::addColumn<QString>("args");
        QTest::addColumn<bool>("silent");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("want"); // in the JSON printed, or the report file written
        QTest::newRow("probe") << "probe" << false << 0 << "\"version\": \"3.1\"";
        QTest::newRow("search") << "search" << false << 0 << "\"found\": 2";
        QTest::newRow("read one") << "read 2" << false << 0 << "\"serial\": \"090300017\"";
        QTest::newRow("read all") << "read all" << false << 0 << "\"address\": 2,";
        QTest::newRow("report") << "report --json r.json" << false << 0 << "complète";
        QTest::newRow("silent board") << "probe" << true << 4 << "";
        QTest::newRow("missing port") << "--port /nonexistent/tty probe" << false << 3 << "";
        QTest::newRow("bad usage") << "read 129" << false << 2 << "";
    }
    void commands() {
        QFETCH(QString, args);
        QFETCH(bool, silent);
        QFETCH(int, status);
        QFETCH(QString, want);
        QTemporaryDir dir;
        loopsim::Loop loop = loopsim::default_loop();
        for (int a = 3; a <= 128; ++a)
            loop.detectors.erase(a);
        loopsim::Board board(loop);
        QVERIFY(board.start(dir.path(), 1));
        board.set_silent(silent);
        QProcess cli;
        cli.setWorkingDirectory(dir.path());
        cli.start(QCoreApplication::applicationDirPath() + "/../kalvenor-cli",
                  QStringList{"--json"} + args.split(' '));
        QEventLoop wait; // the board answers from this event loop
        connect(&cli, &QProcess::finished, &wait, &QEventLoop::quit);
        QTimer::singleShot(30000, &wait, &QEventLoop::quit);
        wait.exec();
        QCOMPARE(cli.state(), QProcess::NotRunning);
        QCOMPARE(cli.exitCode(), status);
        QByteArray out = cli.readAllStandardOutput();
        if (args.startsWith("report")) {
            QFile report(dir.filePath("r.json"));
            QVERIFY(report.open(QIODevice::ReadOnly));
            out = report.readAll();
            const QJsonArray found =
                QJsonDocument::fromJson(out).object().value("detectors").toArray();
            QCOMPARE(found.size(), 2);
        }
        QVERIFY2(QString::fromUtf8(out).contains(want), out.constData());
    }
};

QTEST_MAIN(Tst_Cli)
#include "tst_cli.moc"
