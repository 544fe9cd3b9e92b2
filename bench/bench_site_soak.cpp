// Durability of the site file under SIGKILL. kalvenor-cli runs `search`, `read all` and `watch`
// in turn with `--site FILE --trace TRACE` against the simulated board on a pseudo-terminal, and
// each run is killed with SIGKILL at a random moment (seeded). After each kill:
//   - a copy of the file as the kill left it (the database and its write-ahead log, as SQLite
//     would find them at the next opening) passes PRAGMA integrity_check, and still carries the
//     tool's application id and schema version; the original is left as it was, so the next run
//     opens a file fresh from a kill, which it must accept (a refusal is a failure too);
//   - every fact the trace shows the tool learned more than one commit before the kill is in the
//     file, in the visit of that run.
//
// The facts, read from the trace's frames (a frame: header 0x40..0x43, P0, P1, P2 and the reply
// to P2, status and data; a fact is learned when the exchange of P2 ends with a reply):
//   - a search probe accepted at N (P0 0x81 or 0x88): detector N found;
//   - the type (P0 0x13), the PCB and software versions (0x14, 0x15): those columns of N;
//   - the four serial bytes (0x08 to 0x0B, in a row, all accepted): N's serial as the panel
//     writes it, learned at the fourth;
//   - a parameter (P0 0..7, 12..15) and the mode (0x18, stored as code 16): that row of params;
//   - a poll (0x10) answered in alarm, point fault or with a refusal: N's count of alarms, point
//     faults or communication faults at least 1;
//   - the search's end (the trace's change of task state out of 4): a row in searches.
//
// "More than one commit before the kill". The recorder writes a batch per pass of the event
// loop, one transaction each, on its own thread: a fact learned while a commit is under way goes
// into the next one. So a kill may lose, at most, the batch being committed and the one waiting
// behind it; a fact learned at time t is certain to be committed by t + 2 C + S, where C is the
// longest commit of a batch on this file system and S the time the two threads may take to be
// scheduled. C is measured before the runs (the slowest of 30 commits of a loop's worth of
// detectors, parameters and journal, synchronous FULL, in the soak's folder); S is 100 ms. The
// kill's time on the trace's clock is taken as the trace's last line (the trace is flushed line
// by line): the kill came at or after it, so the rule can only spare facts, never blame the file
// wrongly. A fact is due, and must be in the file, when the trace's last line is more than
// 2 C + S after it. A run that ended by itself before its kill must hold every fact. Each fact is
// also looked for in visit 0, which no file has: found there, the check itself is broken.
//
// The kill comes 0.3 to 7 s after the start of a `search`, and 3 to 15 s (`read all`) or 3 to
// 14 s (`watch`) after the start of the others, so that most of those land past their search.
//
// Coverage: the soak fails unless kills landed during a search, a read-all and a simulation (the
// task state the trace last noted: 3; 17 or a probe between two readouts of the read-all; 7 or
// the LED command it makes). The first run, a `probe`, is not killed: it makes the file. At the
// end, 20 runs that make a new site file are killed in their first 60 ms, while the file is being
// made: the name must then hold nothing, or a site file that opens.
//
//   bench_site_soak [--kills N] [--seed N] [--window MS] [path/to/kalvenor-cli]
// (default 50 kills; --window sets the time after which a fact is due, to see what the check
// finds with another rule: 0 blames the file for whatever the kill interrupted)
#include "app/site_file.h"
#include "bench/figure.h"
#include "tools/loopsim/board.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <array>
#include <csignal>
#include <cstdio>
#include <functional>
#include <map>
#include <random>

namespace {

constexpr double Scheduling_Ms = 100;

// A frame the board answered, read back from the trace.
struct Frame {
    double at = 0; // ms on the trace's clock, the end of P2's exchange
    int p0 = 0, p1 = 0, status = -1, data = -1;
};

struct Trace {
    QList<Frame> frames;
    QList<double> searches_ended; // the changes out of task state 4
    int last_state = 0;
    bool read_all_started = false, simulation_started = false, search_ended = false;
    double last_ms = 0;
};

Trace read_trace(const QString& path) {
    Trace out;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text)) return out;
    QList<int> sent;    // the frame's bytes so far
    QList<int> replied; // the reply to the last byte sent
    while (!f.atEnd()) {
        const QString line = QString::fromUtf8(f.readLine()).trimmed();
        const int blank = line.indexOf(QLatin1Char(' '));
        bool ok = false;
        const double at = line.left(blank).toDouble(&ok);
        if (!ok) continue;
        out.last_ms = at;
        const QString rest = line.mid(blank + 1);
        const QStringList words = rest.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (rest.startsWith(QLatin1String("* "))) {
            // "* état A -> B"
            const int to = words.value(4).toInt();
            if (words.value(2).toInt() == 4) out.searches_ended << at;
            out.last_state = to;
            out.read_all_started |= to == 17;
            out.simulation_started |= to == 7;
            out.search_ended |= to == 4;
        } else if (rest.startsWith(QLatin1String("> "))) {
            const int byte = words.value(1).toInt(nullptr, 16);
            if (sent.isEmpty() && (byte < 0x40 || byte > 0x43)) continue; // outside a frame
            sent << byte;
            replied.clear();
        } else if (rest.startsWith(QLatin1String("< ")) &&
                   !rest.contains(QString::fromUtf8("ignoré"))) {
            for (int i = 1; i < words.size(); ++i)
                replied << words[i].toInt(nullptr, 16);
        } else if (rest.startsWith(QLatin1String("] "))) {
            if (sent.isEmpty()) continue;
            if (words.value(1) != QString::fromUtf8("réponse")) {
                sent.clear(); // the tool abandons the frame
                continue;
            }
            if (sent.size() == 4) {
                out.frames.append(
                    {at, sent[1], sent[2], replied.value(0, -1), replied.value(1, -1)});
                sent.clear();
            }
        }
    }
    return out;
}

// One fact and where the file must show it.
struct Fact {
    double at = 0;
    QString what;                                             // for the report
    std::function<bool(const QSqlDatabase&, qint64)> in_file; // true when the visit holds it
};

QVariant one(const QSqlDatabase& db, const QString& sql, const QVariantList& values) {
    QSqlQuery q(db);
    q.prepare(sql);
    for (const QVariant& v : values)
        q.addBindValue(v);
    return q.exec() && q.next() ? q.value(0) : QVariant();
}

Fact column_fact(double at, int address, const char* column, const QVariant& value) {
    return {
        at, QStringLiteral("%1 %2 = %3").arg(address).arg(column, value.toString()),
        [=](const QSqlDatabase& db, qint64 visit) {
            return one(db,
                       QStringLiteral("SELECT %1 FROM detectors WHERE visit = ? AND address = ?")
                           .arg(column),
                       {visit, address}) == value;
        }};
}

Fact count_fact(double at, int address, const char* column) {
    return {
        at, QStringLiteral("%1 %2 >= 1").arg(address).arg(column),
        [=](const QSqlDatabase& db, qint64 visit) {
            return one(db,
                       QStringLiteral("SELECT %1 FROM detectors WHERE visit = ? AND address = ?")
                           .arg(column),
                       {visit, address})
                       .toInt() >= 1;
        }};
}

QList<Fact> facts_of(const Trace& trace) {
    QList<Fact> out;
    std::map<int, std::array<int, 4>> serial; // bytes read so far, by address
    for (const Frame& f : trace.frames) {
        const int n = f.p1;
        const bool taken = f.status == 0 && f.data >= 0;
        if ((f.p0 == 0x81 || f.p0 == 0x88) && n != 0xC8 && f.status == 0) {
            out << column_fact(f.at, n, "found", 1);
        } else if (f.p0 == 0x13 && taken) {
            out << column_fact(f.at, n, "type_code", f.data);
        } else if ((f.p0 == 0x14 || f.p0 == 0x15) && taken) {
            out << column_fact(f.at, n, f.p0 == 0x14 ? "pcb_version" : "soft_version", f.data);
        } else if (f.p0 >= 0x08 && f.p0 <= 0x0B) {
            std::array<int, 4>& s = serial[n];
            if (f.p0 == 0x08) s.fill(-1);
            s[size_t(f.p0 - 0x08)] = taken ? f.data : -1;
            if (f.p0 == 0x0B && std::all_of(s.begin(), s.end(), [](int b) { return b >= 0; }))
                out << column_fact(f.at, n, "serial",
                                   QStringLiteral("%1%2%3")
                                       .arg(s[0], 2, 10, QLatin1Char('0'))
                                       .arg(s[1], 2, 10, QLatin1Char('0'))
                                       .arg(s[2] * 256 + s[3], 5, 10, QLatin1Char('0')));
        } else if (((f.p0 <= 0x0F) || f.p0 == 0x18) && taken) {
            const int code = f.p0 == 0x18 ? 16 : f.p0;
            const int value = f.data;
            out << Fact{f.at, QStringLiteral("%1 param %2 = %3").arg(n).arg(code).arg(value),
                        [=](const QSqlDatabase& db, qint64 visit) {
                            return one(db,
                                       QStringLiteral("SELECT value FROM params WHERE visit = ? "
                                                      "AND address = ? AND code = ?"),
                                       {visit, n, code}) == QVariant(value);
                        }};
        } else if (f.p0 == 0x10 && f.status >= 0) {
            if (f.status != 0)
                out << count_fact(f.at, n, "com_faults");
            else if (f.data & 0x01)
                out << count_fact(f.at, n, "alarms");
            else if (f.data & 0x08)
                out << count_fact(f.at, n, "point_faults");
        }
    }
    for (const double at : trace.searches_ended)
        out << Fact{at, QStringLiteral("search ended"), [](const QSqlDatabase& db, qint64 visit) {
                        return one(db,
                                   QStringLiteral("SELECT count(*) FROM searches WHERE visit = ?"),
                                   {visit})
                                   .toInt() >= 1;
                    }};
    return out;
}

// Kills of runs that make a new site file, in the first milliseconds, while the file is being
// made: what stands at the name afterwards must be nothing, or a whole site file that opens.
// Returns the names left in any other state.
int creation_kills(const QString& cli, const QString& dir, int count, std::mt19937& random) {
    int bad = 0;
    for (int i = 0; i < count; ++i) {
        const QString path = dir + QStringLiteral("/new-%1.kalsite").arg(i);
        const int kill_ms = std::uniform_int_distribution<int>(2, 60)(random);
        QProcess p;
        p.setWorkingDirectory(dir);
        p.setStandardOutputFile(QProcess::nullDevice());
        p.setStandardErrorFile(QProcess::nullDevice());
        // The scratch folder a kill leaves behind goes with the soak's.
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TMPDIR"), dir);
        p.setProcessEnvironment(env);
        p.start(cli, {QStringLiteral("--port"), QStringLiteral("/dev/null"),
                      QStringLiteral("--site"), path, QStringLiteral("probe")});
        if (!p.waitForStarted(5000)) return count;
        QThread::msleep(ulong(kill_ms));
        if (p.state() == QProcess::Running && p.processId() > 0)
            ::kill(pid_t(p.processId()), SIGKILL);
        p.waitForFinished(5000);
        if (!QFile::exists(path)) continue;
        QString why;
        if (!site::File::open(path, &why)) {
            ++bad;
            std::printf("killed %d ms after its start, a new site file is left refused: %s\n",
                        kill_ms, qPrintable(why));
        }
    }
    return bad;
}

// What was under way when the trace stopped.
QString phase_of(const Trace& t) {
    if (t.simulation_started) return QStringLiteral("simulation");
    if (t.read_all_started) return QStringLiteral("read-all");
    if (t.last_state == 3) return QStringLiteral("search");
    if (t.search_ended) return QStringLiteral("after the search");
    return QStringLiteral("start-up");
}

// The slowest of 30 commits of a loop's worth of facts into a site file in `dir`, ms.
double slowest_commit_ms(const QString& dir) {
    QString why;
    const QString path = dir + QStringLiteral("/commit-probe.kalsite");
    auto file = site::File::create(path, QStringLiteral("essai"), &why);
    if (!file) return -1;
    const qint64 visit =
        file->begin_visit(file->loop_id(QStringLiteral("1")), {}, QDateTime::currentDateTime());
    double slowest = 0;
    for (int i = 0; i < 30; ++i) {
        site::Batch b;
        for (int a = 1; a <= 20; ++a) {
            record::Detector& d = b.detectors[a];
            d.found = true;
            d.type_code = 0x1A;
            d.serial = QStringLiteral("071200300");
            for (uint8_t code = 1; code <= 7; ++code)
                d.params[code] = uint8_t(i);
            b.events.append({QDateTime::currentDateTime(), a, QStringLiteral("Alarme")});
        }
        QElapsedTimer clock;
        clock.start();
        if (!file->write(visit, b)) return -1;
        slowest = std::max(slowest, clock.nsecsElapsed() / 1e6);
    }
    file.reset();
    for (const char* end : {"", "-wal", "-shm"})
        QFile::remove(path + QLatin1String(end));
    return slowest;
}

struct Check {
    bool intact = false;
    QString damage;
    qint64 visit = 0; // the newest visit in the file
    int due = 0, lost = 0, spared = 0, spared_present = 0;
    int blind = 0; // facts found in a visit that does not exist: a check that cannot fail
    QStringList lost_facts;
};

// Looks at a copy of the file as the kill left it.
Check check_copy(const QString& site_path, const QString& copy_dir, const Trace& trace,
                 double window_ms, qint64 visit_before) {
    Check c;
    QDir(copy_dir).removeRecursively();
    QDir().mkpath(copy_dir);
    const QString copy = copy_dir + QStringLiteral("/site.kalsite");
    QFile::copy(site_path, copy);
    if (QFile::exists(site_path + QStringLiteral("-wal")))
        QFile::copy(site_path + QStringLiteral("-wal"), copy + QStringLiteral("-wal"));
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "check");
        db.setDatabaseName(copy);
        if (!db.open()) {
            c.damage = QStringLiteral("does not open");
        } else {
            QSqlQuery q(db);
            QStringList said;
            if (q.exec(QStringLiteral("PRAGMA integrity_check")))
                while (q.next())
                    said << q.value(0).toString();
            else
                said << QStringLiteral("integrity_check failed to run");
            const int id = one(db, QStringLiteral("PRAGMA application_id"), {}).toInt();
            const int version = one(db, QStringLiteral("PRAGMA user_version"), {}).toInt();
            c.intact = said == QStringList{QStringLiteral("ok")} && id == site::Application_Id &&
                       version == site::Schema_Version;
            if (!c.intact)
                c.damage = QStringLiteral("%1; application id 0x%2, version %3")
                               .arg(said.join(QStringLiteral(" / ")))
                               .arg(id, 0, 16)
                               .arg(version);
            c.visit = one(db, QStringLiteral("SELECT max(id) FROM visits"), {}).toLongLong();
            const qint64 visit = c.visit > visit_before ? c.visit : -1; // -1: no visit of its own
            for (const Fact& f : facts_of(trace)) {
                const bool due = trace.last_ms - f.at > window_ms;
                const bool present = f.in_file(db, visit);
                c.blind += f.in_file(db, 0);
                if (due) {
                    ++c.due;
                    if (!present) {
                        ++c.lost;
                        c.lost_facts
                            << QStringLiteral("%1 at %2 ms").arg(f.what).arg(f.at, 0, 'f', 1);
                    }
                } else {
                    ++c.spared;
                    c.spared_present += present;
                }
            }
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("check"));
    return c;
}

// The simulated loop: the demo loop, its script brought forward so that a short simulation sees
// an alarm, a point fault, a communication fault and a return to standby.
loopsim::Loop soak_loop() {
    loopsim::Loop loop = loopsim::default_loop();
    loop.script = {{1.0, 3, 0x01, 0}, {1.5, 5, 0x08, 0}, {2.5, 7, 0x00, 1}, {4.0, 3, 0x00, 0}};
    return loop;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int kills_wanted = 50;
    unsigned seed = 1;
    double window_given = -1;
    QString cli = QCoreApplication::applicationDirPath() + QStringLiteral("/../kalvenor-cli");
    const QStringList args = QCoreApplication::arguments().mid(1);
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--kills") && i + 1 < args.size())
            kills_wanted = std::max(1, args[++i].toInt());
        else if (args[i] == QLatin1String("--seed") && i + 1 < args.size())
            seed = args[++i].toUInt();
        else if (args[i] == QLatin1String("--window") && i + 1 < args.size())
            window_given = args[++i].toDouble();
        else
            cli = args[i];
    }
    QTemporaryDir dir;
    const QString site = dir.filePath(QStringLiteral("soak.kalsite"));
    const double commit_ms = slowest_commit_ms(dir.path());
    if (commit_ms < 0) return std::fprintf(stderr, "no site file can be written here\n"), 1;
    const double window_ms = window_given >= 0 ? window_given : 2 * commit_ms + Scheduling_Ms;
    std::printf("site file soak: %d kills wanted, seed %u; slowest commit %.1f ms, a fact is due "
                "%.1f ms after it was learned\n",
                kills_wanted, seed, commit_ms, window_ms);

    std::mt19937 random(seed);
    struct Command {
        QStringList words;
        double kill_from_s, kill_to_s; // the kill's moment after the start, drawn uniformly
    };
    const Command commands[] = {{{QStringLiteral("search")}, 0.3, 7.0},
                                {{QStringLiteral("read"), QStringLiteral("all")}, 3.0, 15.0},
                                {{QStringLiteral("watch")}, 3.0, 14.0}};
    int kills = 0, ended = 0, damaged = 0, refused = 0, lost = 0, due = 0, spared = 0,
        spared_present = 0, runs = 0;
    std::map<QString, int> phases;
    qint64 visit_before = 0;
    for (int run = 0; kills < kills_wanted && run < kills_wanted * 3; ++run) {
        // A fresh board for each run: its script starts again with the first poll.
        loopsim::Board board(soak_loop());
        if (QString why; !board.start(dir.path(), 1, &why))
            return std::fprintf(stderr, "simulator: %s\n", qPrintable(why)), 1;
        const Command& command = commands[run == 0 ? 0 : (run - 1) % 3];
        const QString trace_path = dir.filePath(QStringLiteral("trace-%1.txt").arg(run));
        QProcess p;
        p.setWorkingDirectory(dir.path());
        p.setStandardOutputFile(QProcess::nullDevice());
        p.setStandardErrorFile(dir.filePath(QStringLiteral("stderr-%1.txt").arg(run)));
        const QStringList words = run == 0 ? QStringList{QStringLiteral("probe")} : command.words;
        const double kill_s =
            std::uniform_real_distribution<double>(command.kill_from_s, command.kill_to_s)(random);
        QEventLoop wait;
        QObject::connect(&p, &QProcess::finished, &wait, &QEventLoop::quit);
        bool killed = false;
        QTimer kill;
        kill.setSingleShot(true);
        kill.setTimerType(Qt::PreciseTimer);
        QObject::connect(&kill, &QTimer::timeout, [&] {
            if (p.state() == QProcess::Running && p.processId() > 0 && run > 0) {
                ::kill(pid_t(p.processId()), SIGKILL);
                killed = true;
            }
        });
        p.start(cli,
                QStringList{QStringLiteral("--port"), QStringLiteral("COM1"),
                            QStringLiteral("--site"), site, QStringLiteral("--trace"), trace_path} +
                    words);
        if (!p.waitForStarted(5000))
            return std::fprintf(stderr, "%s does not start\n", qPrintable(cli)), 1;
        kill.start(int(kill_s * 1000));
        QTimer::singleShot(60000, &wait, &QEventLoop::quit); // a run that hangs
        if (p.state() != QProcess::NotRunning) wait.exec();
        if (p.state() != QProcess::NotRunning) {
            p.kill();
            p.waitForFinished(5000);
            return std::fprintf(stderr, "run %d (%s) hung\n", run, qPrintable(words.join(' '))), 1;
        }
        board.stop();
        ++runs;
        const Trace trace = read_trace(trace_path);
        if (!killed) {
            ++ended;
            // Ended by itself: a refusal of the file made after a kill shows here.
            if (p.exitCode() == 1) {
                ++refused;
                QFile err(dir.filePath(QStringLiteral("stderr-%1.txt").arg(run)));
                err.open(QIODevice::ReadOnly);
                std::printf("run %d: the site file was refused: %s\n", run,
                            err.readAll().trimmed().constData());
            }
        } else {
            ++kills;
            ++phases[phase_of(trace)];
        }
        const Check c = check_copy(site, dir.filePath(QStringLiteral("copy")), trace,
                                   killed ? window_ms : -1, visit_before);
        visit_before = std::max(visit_before, c.visit);
        damaged += !c.intact;
        if (c.blind)
            return std::fprintf(stderr,
                                "run %d: %d facts found in visit 0, which no file has: the "
                                "check is broken\n",
                                run, c.blind),
                   1;
        lost += c.lost;
        due += c.due;
        spared += c.spared;
        spared_present += c.spared_present;
        std::printf("run %3d %-8s %s at %6.0f ms (%s): %d facts due, %d lost, %d too recent (%d "
                    "kept anyway)%s\n",
                    run, qPrintable(words.join(' ')), killed ? "killed" : "ended ",
                    killed ? trace.last_ms : trace.last_ms, qPrintable(phase_of(trace)), c.due,
                    c.lost, c.spared, c.spared_present,
                    c.intact ? "" : qPrintable(QStringLiteral("; DAMAGED: ") + c.damage));
        for (const QString& f : c.lost_facts.mid(0, 5))
            std::printf("    lost: %s (trace ends at %.1f ms)\n", qPrintable(f), trace.last_ms);
        std::fflush(stdout);
    }

    const int creation_bad = creation_kills(cli, dir.path(), 20, random);
    std::printf("20 runs making a new site file killed in their first 60 ms: %d names left "
                "unusable\n",
                creation_bad);
    const int covered =
        (phases["search"] > 0) + (phases["read-all"] > 0) + (phases["simulation"] > 0);
    std::printf("%d runs, %d killed, %d ended by themselves; kills during:", runs, kills, ended);
    for (const auto& [phase, n] : phases)
        std::printf(" %s %d,", qPrintable(phase), n);
    std::printf("\nfacts due %d, lost %d; too recent to be due %d (%d in the file anyway); files "
                "damaged %d, refused %d\n",
                due, lost, spared, spared_present, damaged, refused);
    print_figure("site soak: SIGKILLs of kalvenor-cli --site", kills, "kills", No_Anchor,
                 QStringLiteral(">= %1").arg(kills_wanted).toUtf8().constData(), 0);
    print_figure("site soak: facts due at the kill (learned > 2 commits before)", due, "facts",
                 No_Anchor, "-", 0);
    print_figure("site soak: integrity failures (integrity_check, id, version)", damaged, "files",
                 No_Anchor, "= 0", 0);
    print_figure("site soak: site file refused by the next run", refused, "runs", No_Anchor, "= 0",
                 0);
    print_figure("site soak: new files killed while made, left unusable", creation_bad, "files",
                 No_Anchor, "= 0", 0);
    print_figure("site soak: facts lost", lost, "facts", No_Anchor, "= 0", 0);
    print_figure("site soak: kills during search", phases["search"], "kills", No_Anchor, ">= 1", 0);
    print_figure("site soak: kills during read-all", phases["read-all"], "kills", No_Anchor, ">= 1",
                 0);
    print_figure("site soak: kills during simulation", phases["simulation"], "kills", No_Anchor,
                 ">= 1", 0);
    const bool failed = kills < kills_wanted || damaged || refused || lost || covered < 3 ||
                        due == 0 || creation_bad;
    if (covered < 3) std::printf("the kills did not land during each of the three commands\n");
    return failed ? 1 : 0;
}
