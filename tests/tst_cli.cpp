// kalvenor-cli as a script runs it, against the simulated board: what each command prints and
// the exit status it ends with, when all goes well and when the board, the port, the files or
// the user get in the way. The window program's options that need no display are here too.
#include "tools/loopsim/board.h"
#include "tools/loopsim/console.h"

#include <QProcess>
#include <QtTest>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

class Tst_Cli : public QObject {
    Q_OBJECT
  private slots:
    void commands_data() {
        QTest::addColumn<QString>("args");  // '' is an empty argument
        QTest::addColumn<QString>("board"); // "silent" (after the first command when said),
                                            // "empty", "limit BYTES" (ulimit -f), or
                                            // "on BYTE ACTION": a console command, SIGINT or
                                            // SIGTERM, the first time the board gets BYTE
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("want"); // in what it prints, or in the report written
        const auto row = [](const char* args, const char* board, int status, const char* want) {
            const QString name =
                QString(args[0] ? args : "no command") + (board[0] ? " / " : "") + board;
            QTest::newRow(qPrintable(name))
                << QString(args) << QString(board) << status << QString::fromUtf8(want);
        };
        row("probe", "", 0, "\"version\": \"3.1\"");
        row("search", "", 0, "\"found\": 2");
        row("read 2", "", 0, "\"serial\": \"090300017\"");
        row("read all", "", 0, "\"address\": 2,");
        row("report --json r.json --site Lycée --loop=B2 --engineer Durand --plan plan.csv", "", 0,
            "\"location\": \"Hall\"");
        row("report --csv r.csv --plan missing.csv", "", 2, "missing.csv n'est pas importé");
        row("report --csv fifo", "", 1, "fifo : ce n'est pas un fichier ordinaire");
        row("report --pdf r.pdf", "limit 8192", 1, "r.pdf : disque plein");
        row("", "", 2, "commande manquante");
        for (const char* bad : {"read 0", "read foo", "read ''", "read 0x05", "read 5.0"})
            row(bad, "", 2, "read attend un numéro");
        row("read 21", "", 6, "Aucun détecteur ne répond à l'adresse 021");
        row("probe extra", "", 2, "argument de trop : extra");
        row("--port '' probe", "", 2, "--port attend une valeur");
        row("--port /nonexistent/tty probe", "", 3, "Le port /nonexistent/tty n'existe pas");
        row("--version", "", 0, "kalvenor-cli 2.5");
        row("kalvenor --version", "", 0, "kalvenor 2.5");
        row("kalvenor --help", "", 0, "Usage : kalvenor");
        row("kalvenor --bogus", "", 2, "option inconnue : --bogus");
        row("probe", "silent", 4, "Aucune carte d'interface ne répond");
        row("search", "on 0x13 wrongecho 2", 5, "Recherche interrompue en 001 : écho incorrect");
        row("report --csv r.csv", "on 0x13 wrongecho 2", 5, "Recherche interrompue");
        row("read 2", "on 0x14 hangup", 3, "Port perdu");
        row("watch", "on 0x10 hangup", 3, "Port perdu");
        row("probe", "on 0x01 SIGINT", 130, "");
        row("read all", "on 0x15 SIGTERM", 130, "");
        row("watch", "on 0x10 SIGINT", 0, "Simulation arrêtée");
        row("watch", "empty", 6, "rien à surveiller");
        // Each command recorded as a visit of the site file, which is made the first time.
        row("--site s.kalsite --loop B2 --engineer Durand read all then --site s.kalsite read 2 "
            "then --site s.kalsite visits",
            "", 0, "\"read\": 1,\n            \"visit\": 2\n        }\n    ]");
        row("--site s.kalsite visits", "", 1, "s.kalsite : fichier introuvable");
        row("--site s.kalsite read 2 then --site s.kalsite read 2 then --site s.kalsite compare",
            "", 0, "\"change\": \"retrouvé (série non lue)\"");
        row("--site s.kalsite probe then --site s.kalsite compare", "", 6, "rien à comparer");
        // The report of a stored visit: the site file's names, no port (the board is silent).
        row("--site s.kalsite --loop B2 --engineer Durand read all then --site s.kalsite report "
            "--json r.json --visit 1",
            "silent after the first", 0, R"x("engineer": "Durand",)x");
        row("--site s.kalsite read all then --site s.kalsite read all then --site s.kalsite report "
            "--json r.json --visit 2",
            "", 0, "Changements depuis la visite du");
        row("--site s.kalsite read all then --site s.kalsite report --json r.json --visit 1 then "
            "--site s.kalsite compare --with r.json",
            "", 0, "\"changes\": [\n    ],\n    \"report\": \"r.json\"");
        row("--site s.kalsite read 2 then --site s.kalsite compare --with s.kalsite", "", 2,
            "n'est pas pris : ce n'est pas un rapport JSON");
        row("visits", "", 2, "visits attend --site FICHIER");
        row("ports", "silent", 0, "\"ports\": [");
        row("--site plan.csv probe", "", 1, "plan.csv : ce n'est pas un fichier de site");
    }
    void commands() {
        QFETCH(QString, args);
        QFETCH(QString, board);
        QFETCH(int, status);
        QFETCH(QString, want);
        QTemporaryDir dir;
        loopsim::Loop loop = loopsim::default_loop();
        for (int a = board == "empty" ? 1 : 3; a <= 128; ++a)
            loop.detectors.erase(a);
        loopsim::Board sim(loop);
        QVERIFY(sim.start(dir.path(), 1));
        loopsim::Console console(sim, [](const QString&) {});
        QFile plan(dir.filePath("plan.csv"));
        QVERIFY(plan.open(QIODevice::WriteOnly) && plan.write("1;ZEPHA;Hall\n2;KOR\n") > 0);
        plan.close();
        QVERIFY(mkfifo(QFile::encodeName(dir.filePath("fifo")).constData(), 0600) == 0);

        QString program = QCoreApplication::applicationDirPath() + "/../kalvenor-cli";
        // "A then B": A sets the stage and must succeed; B is the command looked at.
        const QStringList parts = args.split(" then ");
        for (const QString& first : parts.mid(0, parts.size() - 1)) {
            QProcess before;
            before.setWorkingDirectory(dir.path());
            before.start(program, first.split(' '));
            QEventLoop wait;
            connect(&before, &QProcess::finished, &wait, &QEventLoop::quit);
            wait.exec();
            QVERIFY2(before.exitCode() == 0, before.readAllStandardError().constData());
        }
        QStringList words = parts.last().split(' ', Qt::SkipEmptyParts).replaceInStrings("''", "");
        QProcess cli;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        if (words.value(0) == "kalvenor") {
            // As over SSH: no display, and a platform that needs one.
            program.chop(4);
            words.removeFirst();
            env.remove("DISPLAY");
            env.remove("WAYLAND_DISPLAY");
            env.insert("QT_QPA_PLATFORM", "xcb");
        } else {
            words.prepend("--json");
        }
        cli.setProcessEnvironment(env);
        const QStringList on = board.split(' ');
        if (board.startsWith("silent")) sim.set_silent(true);
        if (on.value(0) == "limit")
            cli.setChildProcessModifier([limit = on.value(1).toULongLong()] {
                const rlimit small{limit, limit};
                setrlimit(RLIMIT_FSIZE, &small);
            });
        if (on.value(0) == "on")
            connect(
                &sim, &loopsim::Board::byte_received, this, [&, fired = false](quint8 b) mutable {
                    if (fired || b != on.value(1).toUInt(nullptr, 16)) return;
                    fired = true;
                    if (on.value(2).startsWith("SIG"))
                        ::kill(pid_t(cli.processId()), on.value(2) == "SIGINT" ? SIGINT : SIGTERM);
                    else
                        console.execute(on.mid(2).join(' '));
                });
        cli.setWorkingDirectory(dir.path());
        cli.start(program, words);
        QEventLoop wait; // the board answers from this event loop
        connect(&cli, &QProcess::finished, &wait, &QEventLoop::quit);
        QTimer::singleShot(30000, &wait, &QEventLoop::quit);
        wait.exec();
        QCOMPARE(cli.state(), QProcess::NotRunning);
        QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
        QByteArray out = cli.readAllStandardOutput() + cli.readAllStandardError();
        const int file_at = words.indexOf(QRegularExpression("--(csv|json|pdf)"), 1) + 1;
        QFile report(dir.filePath(words.value(file_at)));
        const bool written = file_at > 0 && QFileInfo(report).isFile() && report.size() > 0;
        if (written && report.open(QIODevice::ReadOnly)) out += report.readAll();
        QVERIFY2(QString::fromUtf8(out).contains(want), out.constData());
        QCOMPARE(cli.exitCode(), status);
        // A report is there only when the command says it is written.
        if (file_at > 0) QCOMPARE(written, status == 0);
    }
};

QTEST_MAIN(Tst_Cli)
#include "tst_cli.moc"
