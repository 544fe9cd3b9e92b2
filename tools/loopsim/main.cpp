// loopsim: the interface board and its detector loop behind a pseudo-terminal published as
// COM<n>, so the tool can be run and shown without hardware.
#include "tools/loopsim/board.h"
#include "tools/loopsim/console.h"
#include "tools/loopsim/loop.h"
#include "tools/loopsim/replay.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSocketNotifier>
#include <QTextStream>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

int signal_pipe[2] = {-1, -1};

void on_signal(int sig) {
    const char c = char(sig);
    if (::write(signal_pipe[1], &c, 1) < 0) return;
}

void print_line(const QString& s) {
    const QByteArray b = s.toLocal8Bit();
    std::fwrite(b.constData(), 1, size_t(b.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("loopsim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Simulated interface board of a detector loop, on a pseudo-terminal "
                       "published as DIR/COM<n>. Commands on standard input; try help."));
    parser.addHelpOption();
    const QCommandLineOption dir_opt(QStringLiteral("dir"),
                                     QStringLiteral("Directory of the COM link (default: .)."),
                                     QStringLiteral("DIR"), QStringLiteral("."));
    const QCommandLineOption com_opt(
        QStringLiteral("com"), QStringLiteral("Port number N of the link COM<N> (default 1)."),
        QStringLiteral("N"), QStringLiteral("1"));
    const QCommandLineOption loop_opt(
        QStringLiteral("loop"), QStringLiteral("Loop description (JSON) instead of the demo loop."),
        QStringLiteral("FILE"));
    const QCommandLineOption paced_opt(QStringLiteral("paced"),
                                       QStringLiteral("Answer at the pace of a 9600 baud line."));
    const QCommandLineOption trace_opt(QStringLiteral("trace"),
                                       QStringLiteral("Trace every byte on standard error."));
    const QCommandLineOption fault_opt(
        QStringLiteral("fault"),
        QStringLiteral("Start with a fault: silent, echostop:K, wrongecho:K, delay:MS, "
                       "garbage:HEX, extra:N, shortreply. May be repeated."),
        QStringLiteral("FAULT"));
    const QCommandLineOption replay_opt(
        QStringLiteral("replay"),
        QStringLiteral("Play the board's side of a trace written by the tool (its \"Enregistrer "
                       "la trace...\" or --trace): each request gets the recorded answer at the "
                       "recorded delay; the first request the trace does not hold there stops "
                       "the replay. Not with --fault or --paced."),
        QStringLiteral("TRACE"));
    parser.addOptions({dir_opt, com_opt, loop_opt, paced_opt, trace_opt, fault_opt, replay_opt});
    parser.process(app);

    bool com_ok = false;
    const int com = parser.value(com_opt).toInt(&com_ok);
    if (!com_ok || com < 1 || com > 255) {
        std::fprintf(stderr, "loopsim: --com expects a number 1..255\n");
        return 2;
    }
    loopsim::Loop loop = loopsim::default_loop();
    if (parser.isSet(loop_opt)) {
        QString error;
        if (!loopsim::load_loop(parser.value(loop_opt), &loop, &error)) {
            std::fprintf(stderr, "loopsim: %s\n", qPrintable(error));
            return 2;
        }
    }

    loopsim::Replay replay;
    if (parser.isSet(replay_opt)) {
        if (parser.isSet(fault_opt) || parser.isSet(paced_opt)) {
            std::fprintf(stderr, "loopsim: --replay plays the trace's own faults and timing; "
                                 "--fault and --paced do not go with it\n");
            return 2;
        }
        QString error;
        if (!replay.load(parser.value(replay_opt), &error)) {
            std::fprintf(stderr, "loopsim: --replay %s\n", qPrintable(error));
            return 2;
        }
        replay.tell = [](const QString& text) { print_line(QStringLiteral("loopsim: ") + text); };
    }

    loopsim::Board board(loop);
    if (parser.isSet(replay_opt)) board.set_replay(&replay);
    loopsim::Console console(board, print_line);
    for (const QString& f : parser.values(fault_opt)) {
        QString error;
        if (!console.apply_fault(f, &error)) {
            std::fprintf(stderr, "loopsim: --fault %s: %s\n", qPrintable(f), qPrintable(error));
            return 2;
        }
    }
    if (parser.isSet(paced_opt)) console.execute(QStringLiteral("paced on"));
    QFile trace;
    if (parser.isSet(trace_opt) && trace.open(stderr, QIODevice::WriteOnly | QIODevice::Unbuffered))
        board.set_trace(&trace);

    // Signals reach the event loop through a pipe, so the link is removed on the way out.
    if (::pipe(signal_pipe) != 0) {
        std::perror("loopsim: pipe");
        return 1;
    }
    ::fcntl(signal_pipe[1], F_SETFL, O_NONBLOCK);
    struct sigaction sa {};
    sa.sa_handler = on_signal;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
    ::sigaction(SIGHUP, &sa, nullptr);
    QSocketNotifier signal_notifier(signal_pipe[0], QSocketNotifier::Read);
    QObject::connect(&signal_notifier, &QSocketNotifier::activated, &app, [&] {
        char c;
        if (::read(signal_pipe[0], &c, 1) < 0) return;
        QCoreApplication::quit();
    });

    QString error;
    if (!board.start(parser.value(dir_opt), com, &error)) {
        std::fprintf(stderr, "loopsim: %s\n", qPrintable(error));
        return 1;
    }
    if (parser.isSet(replay_opt))
        print_line(QStringLiteral("loopsim: %1 -> %2 ready, replaying %3 (%4 requests); type help "
                                  "for commands")
                       .arg(board.link_path(), board.terminal_path(), parser.value(replay_opt))
                       .arg(replay.requests()));
    else
        print_line(QStringLiteral("loopsim: %1 -> %2 ready, %3 detectors; type help for commands")
                       .arg(board.link_path(), board.terminal_path())
                       .arg(board.loop().detectors.size()));

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QByteArray pending;
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        char buf[512];
        const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
        if (n <= 0) {
            // Without a terminal (run in the background) the simulator goes on serving.
            input.setEnabled(false);
            return;
        }
        pending.append(buf, int(n));
        int nl;
        while ((nl = pending.indexOf('\n')) >= 0) {
            const QString line = QString::fromLocal8Bit(pending.left(nl));
            pending.remove(0, nl + 1);
            if (!console.execute(line)) {
                QCoreApplication::quit();
                return;
            }
        }
    });

    const int rc = app.exec();
    board.stop();
    print_line(QStringLiteral("loopsim: stopped, %1 removed").arg(board.link_path()));
    return rc;
}
