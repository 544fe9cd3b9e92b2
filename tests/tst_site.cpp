// Site files: what opening does with files that are not ours, damaged or held elsewhere (a French
// reason, the file left as it was), and what a visit written is when the file is opened again.
#include "app/plan.h"
#include "app/report.h"
#include "app/session_file.h"
#include "app/site_file.h"
#include "app/site_menu.h"
#include "app/site_recorder.h"
#include "app/visits.h"
#include "support/harness.h"

#include <QSqlDatabase>
#include <QSqlQuery>

#include <QtTest>
#include <csignal>
#include <cstdio>
#include <sys/resource.h>
#include <sys/stat.h>

namespace {

QByteArray bytes_of(const QString& path) {
    QFile f(path);
    return QFileInfo(path).isFile() && f.open(QIODevice::ReadOnly) ? f.readAll() : "<none>";
}

bool put(const QString& path, const QByteArray& content) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(content) == content.size();
}

// A site file with one visit of loop B2: detector 5 found and read whole.
QByteArray good_site(const QString& path) {
    QString why;
    auto file = site::File::create(path, QString::fromUtf8("Lycée"), &why);
    if (!file) qFatal("%s", qPrintable(why));
    const qint64 visit = file->begin_visit(file->loop_id("B2"), "Durand",
                                           QDateTime(QDate(2026, 3, 4), QTime(9, 30)));
    site::Batch b;
    record::Detector& d = b.detectors[5];
    d.found = true;
    d.type_code = 0x19;
    d.serial = "071200300";
    d.readout = record::Readout::Complete;
    d.params = {{1, 255}, {record::Mode_Code, 4}};
    b.events << record::Event{QDateTime::currentDateTime(), 5, QStringLiteral("trouvé")};
    if (!file->write(visit, b)) qFatal("%s", qPrintable(file->last_error()));
    file.reset();
    return bytes_of(path);
}

constexpr char Child_Flag[] = "--record-until-killed";

// The child: a visit recorded into a new site file, a readout and an alarm in the simulation
// committed, said on standard output; then facts go on coming until the parent kills it.
int record_until_killed(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    Loop_Record r;
    Site_Recorder recorder(r);
    QString why;
    if (!recorder.start({argv[2], true, "Lycée", "B2", "Durand", {}, nullptr}, &why))
        qFatal("%s", qPrintable(why));
    r.search_started();
    r.set_found(3);
    r.set_type(3, 0x19, "KOR");
    r.search_ended(128, 1, {});
    r.readout_started(3);
    r.set_serial(3, "071200300");
    r.readout_ended(3, record::Readout::Complete);
    r.simulation_started();
    r.set_point(3, record::Point::Alarm);
    if (!recorder.sync()) qFatal("not written");
    std::printf("COMMITTED\n");
    std::fflush(stdout);
    QTimer more;
    QObject::connect(&more, &QTimer::timeout, [&r] { r.note("encore"); });
    more.start(1);
    return app.exec();
}

} // namespace

class Tst_Site : public QObject {
    Q_OBJECT
  private slots:
    void hostile_files_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("why"); // in the message
        const auto row = [](const char* kind, const char* why) {
            QTest::newRow(kind) << QString(kind) << QString::fromUtf8(why);
        };
        row("nothing", "introuvable");
        row("fifo", "pas un fichier ordinaire");
        row("directory", "pas un fichier ordinaire");
        row("empty", "pas un fichier de site");
        row("text", "pas un fichier de site");
        row("header cut", "tronqué");
        row("another program's database", "autre programme");
        row("newer schema", "plus récente du programme (schéma 9");
        row("pages overwritten", "endommagé");
        row("cut after its first page", "endommagé");
        row("read-only", "lecture seule");
        row("open in another instance", "autre instance");
    }
    void hostile_files() {
        QFETCH(QString, kind);
        QFETCH(QString, why);
        QTemporaryDir dir;
        const QString path = dir.filePath("site.kalsite");
        const QByteArray good = kind == "nothing" || kind == "fifo" || kind == "directory"
                                    ? QByteArray()
                                    : good_site(path);
        QByteArray bad = good;
        if (kind == "fifo") QVERIFY(mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
        if (kind == "directory") QVERIFY(QDir().mkdir(path));
        if (kind == "empty") bad.clear();
        if (kind == "text") bad = "adresse;type\n1;KOR\n";
        if (kind == "header cut") bad.truncate(60);
        if (kind == "another program's database") bad[68] = 0;
        if (kind == "newer schema") bad[63] = 9;
        if (kind == "pages overwritten") bad.replace(4096, 8192, QByteArray(8192, '\x5A'));
        if (kind == "cut after its first page") bad.truncate(4096 + 100);
        if (bad != good) QVERIFY(put(path, bad));
        if (kind == "read-only") QVERIFY(QFile::setPermissions(path, QFile::ReadOwner));
        std::unique_ptr<site::File> holder;
        QString message;
        if (kind == "open in another instance") QVERIFY(holder = site::File::open(path, &message));
        const QByteArray before = bytes_of(path);
        QVERIFY(!site::File::open(path, &message));
        QVERIFY2(message.startsWith(path + " : ") && message.contains(why), qPrintable(message));
        QCOMPARE(bytes_of(path), before);
    }

    // A new site never replaces a file, and a disk that fills while it is made leaves nothing.
    void creation() {
        QTemporaryDir dir;
        const QString path = dir.filePath("site.kalsite");
        QVERIFY(put(path, "mine"));
        QString why;
        QVERIFY(!site::File::create(path, "X", &why));
        QCOMPARE(bytes_of(path), QByteArray("mine"));
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit old{};
        getrlimit(RLIMIT_FSIZE, &old);
        const rlimit small{2048, old.rlim_max};
        setrlimit(RLIMIT_FSIZE, &small);
        const QString other = dir.filePath("other.kalsite");
        const bool made = bool(site::File::create(other, "X", &why));
        setrlimit(RLIMIT_FSIZE, &old);
        QVERIFY(!made);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"site.kalsite"});
    }

    // Killed while it writes: the file is whole, and holds what was committed before.
    void kill_while_recording() {
        QTemporaryDir dir;
        const QString path = dir.filePath("site.kalsite");
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {Child_Flag, path});
        QByteArray out;
        while (!out.contains("COMMITTED") && child.waitForReadyRead(10000))
            out += child.readAllStandardOutput();
        QVERIFY2(out.contains("COMMITTED"), child.readAllStandardError().constData());
        QTest::qWait(50);
        ::kill(pid_t(child.processId()), SIGKILL);
        QVERIFY(child.waitForFinished(5000));
        QString why;
        auto file = site::File::open(path, &why);
        QVERIFY2(file, qPrintable(why));
        const QList<site::Visit> visits = file->visits();
        QVERIFY(visits.size() == 1 && visits[0].found == 1 && visits[0].read == 1);
        QStringList texts;
        for (const record::Event& e : file->events(visits[0].id))
            texts << e.text;
        QVERIFY2(texts.contains("Alarme") && texts.contains("encore"), qPrintable(texts.join('|')));
    }

    // Each outcome once, the detector told by its serial; what one visit did not read (a
    // serial, a parameter) is never a change.
    void visit_comparison_data() {
        QTest::addColumn<QString>("before"); // "-" not found, else TYPE SERIAL [P3] ("?": not read)
        QTest::addColumn<QString>("now");
        QTest::addColumn<int>("change");
        const auto row = [](const char* name, const char* before, const char* now, Visit_Change c) {
            QTest::newRow(name) << QString(before) << QString(now) << int(c);
        };
        row("nothing either time", "-", "-", Visit_Change::None);
        row("the same", "19 0712 12", "19 0712 12", Visit_Change::Same);
        row("a serial not read", "19 0712 12", "19 ? 12", Visit_Change::Found_Again);
        row("another serial, same type", "19 0712", "19 0911", Visit_Change::Replaced);
        row("another type, a serial not read", "19 ?", "21 0911", Visit_Change::Type_Changed);
        row("a parameter changed", "19 0712 12", "19 0712 14", Visit_Change::Settings);
        row("a parameter read once only", "19 0712", "19 0712 14", Visit_Change::Same);
        row("gone, searched past it", "19 0712", "-", Visit_Change::Missing);
        row("gone, the search stopped before it", "19 0712", "- past", Visit_Change::None);
        row("new", "-", "21 0911", Visit_Change::New);
    }
    void visit_comparison() {
        QFETCH(QString, before);
        QFETCH(QString, now);
        QFETCH(int, change);
        const auto detector = [](const QString& text) {
            record::Detector d;
            const QStringList w = text.split(' ');
            d.found = w[0] != "-";
            d.type_code = d.found ? w[0].toInt(nullptr, 16) : -1;
            d.serial = w.value(1) == "?" || !d.found ? QString() : w.value(1);
            if (w.size() > 2) d.params[3] = uint8_t(w[2].toInt());
            return d;
        };
        const int searched_to = now.endsWith("past") ? 4 : 128;
        QCOMPARE(int(compare_visit_detector(detector(before), detector(now), 7, searched_to)),
                 change);
    }

    // From the window's menus: a new site, then the same site opened again for another visit;
    // a file that is not a site is said so in a box, and the visit under way goes on.
    void sites_from_the_menus() {
        Harness h;
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, h.dir.path());
        wire_site(h.t);
        const QString path = h.dir.filePath("lycee");
        h.dialogs.answers << path << QString::fromUtf8("Lycée") << "B2"
                          << "Durand";
        Site_New_Mnu_Click(h.t);
        QVERIFY2(h.t.form.Caption.endsWith(QString::fromUtf8("Lycée, boucle B2")),
                 qPrintable(h.t.form.Caption));
        QCOMPARE(h.t.site.path, path + site::Extension);
        QVERIFY(put(h.dir.filePath("plan.csv"), "1;KOR\n"));
        h.dialogs.answers << h.dir.filePath("plan.csv");
        Site_Open_Mnu_Click(h.t);
        QVERIFY(h.dialogs.messages.last().prompt.contains("pas un fichier de site"));
        QVERIFY(h.t.form.Site_Recent_Mnu(1).Visible());
        h.dialogs.answers << "B3"
                          << "Morel";
        Site_Recent_Mnu_Click(h.t, 1);
        h.t.site_recorder.reset();
        QString why;
        const auto file = site::File::open(h.t.site.path, &why);
        QVERIFY2(file, qPrintable(why));
        QStringList visits;
        for (const site::Visit& v : file->visits())
            visits << v.loop + ' ' + v.engineer;
        QCOMPARE(visits, QStringList({"B2 Durand", "B3 Morel"}));
    }

    // A disk that fills while the tool records: said once, nothing learned meanwhile is lost
    // once there is room again.
    void full_disk_while_recording() {
        std::signal(SIGXFSZ, SIG_IGN);
        Harness h;
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, h.dir.path());
        wire_site(h.t);
        h.dialogs.answers << h.dir.filePath("s") << "S"
                          << "B"
                          << "T";
        Site_New_Mnu_Click(h.t);
        auto* recorder = qobject_cast<Site_Recorder*>(h.t.site_recorder.get());
        QVERIFY(recorder && recorder->sync());
        rlimit old{};
        getrlimit(RLIMIT_FSIZE, &old);
        const rlimit full{rlim_t(QFileInfo(h.t.site.path + "-wal").size()), old.rlim_max};
        setrlimit(RLIMIT_FSIZE, &full);
        for (int i = 0; i < 100; ++i)
            h.t.record.note(QStringLiteral("pendant %1").arg(i));
        const bool written = recorder->sync();
        setrlimit(RLIMIT_FSIZE, &old);
        QVERIFY(!written);
        QTRY_COMPARE(h.dialogs.messages.size(), 1);
        h.t.record.note(QString::fromUtf8("après"));
        QVERIFY(recorder->sync());
        h.t.site_recorder.reset();
        QString why;
        const auto file = site::File::open(h.t.site.path, &why);
        QVERIFY2(file, qPrintable(why));
        QStringList texts;
        for (const record::Event& e : file->events(file->visits().value(0).id))
            texts << e.text;
        QVERIFY(texts.contains("pendant 0") && texts.contains("pendant 99") &&
                texts.contains(QString::fromUtf8("après")));
        QCOMPARE(h.dialogs.messages.size(), 1);
    }

    // A session that ended without a report is offered once at the next start: set aside, it is
    // not offered again; taken up, its detectors come back as from the earlier session (not
    // found for the bus until a search confirms them), with its plan and its journal.
    void session_taken_up() {
        QTemporaryDir data;
        qputenv("XDG_DATA_HOME", QFile::encodeName(data.path()));
        int offers = 0;
        const auto run = [&offers](const QString& answer, const std::function<void(Harness&)>& go) {
            Harness h(loopsim::default_loop(), 1, true);
            QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, h.dir.path());
            wire_site(h.t);
            h.dialogs.answers << answer;
            begin_session_file(h.t);
            for (const Test_Dialogs::Message& m : h.dialogs.messages)
                offers += m.style == -1;
            go(h);
            QVERIFY(qobject_cast<Site_Recorder*>(h.t.site_recorder.get())->sync());
        };
        const auto learn = [](Harness& h) {
            QString why;
            QVERIFY(put(h.dir.filePath("plan.csv"), "3;KOR;Hall\n"));
            QVERIFY(import_plan(h.t.planned, h.t.record, h.dir.filePath("plan.csv"), &why));
            qobject_cast<Site_Recorder*>(h.t.site_recorder.get())->plan_set(h.t.planned);
            h.t.record.search_started();
            h.t.record.set_found(3);
            h.t.record.set_type(3, 0x19, "KOR");
            h.t.record.search_ended(128, 1, {});
        };
        run("oui", learn); // nothing to offer yet
        run("non", [](Harness& h) { QVERIFY(!h.t.record.at(3).found && h.t.planned.empty()); });
        run("oui", learn); // the session set aside is not offered again
        QCOMPARE(offers, 1);
        run("oui", [](Harness& h) {
            const record::Detector& d = h.t.record.at(3);
            QVERIFY(d.found && d.earlier && d.type_code == 0x19);
            QCOMPARE(int(h.t.state.Adr_Type[2]), 0);
            QVERIFY(h.t.planned.at(3) && h.t.planned.at(3)->location == "Hall");
            QVERIFY(std::any_of(h.t.record.events().begin(), h.t.record.events().end(),
                                [](const record::Event& e) { return e.text.contains("prévue"); }));
            h.t.record.search_started();
            h.t.record.set_found(3);
            QVERIFY(!h.t.record.at(3).earlier);
        });
        QCOMPARE(offers, 2);
    }

    // A file of the first version is brought to this one when opened, its visits kept.
    void upgrade_from_version_1() {
        QTemporaryDir dir;
        const QString path = dir.filePath("site.kalsite");
        good_site(path);
        {
            QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "old");
            db.setDatabaseName(path);
            QVERIFY(db.open());
            QSqlQuery q(db);
            for (const char* sql :
                 {"ALTER TABLE visits DROP COLUMN board", "ALTER TABLE visits DROP COLUMN port",
                  "ALTER TABLE visits DROP COLUMN handed_to", "DROP INDEX reports_of_visit",
                  "PRAGMA user_version = 1"})
                QVERIFY2(q.exec(sql), sql);
            db.close();
        }
        QSqlDatabase::removeDatabase("old");
        QString why;
        auto file = site::File::open(path, &why);
        QVERIFY2(file, qPrintable(why));
        const qint64 visit = file->visits().value(0).id;
        site::Batch b;
        b.board = "3.1";
        QVERIFY(file->write(visit, b));
        QCOMPARE(file->visits().value(0).board + file->visits().value(0).engineer, "3.1Durand");
        file.reset();
        QCOMPARE(bytes_of(path).at(63), char(site::Schema_Version));
    }

    // A report written by this tool elsewhere: as the earlier visit, every detector is itself
    // again; as a plan, from its JSON or its CSV, each address keeps its type and location.
    void reports_from_elsewhere() {
        Loop_Record r;
        r.search_started();
        r.set_found(2);
        r.set_type(2, 0x19, "KOR");
        r.set_serial(2, "071200300");
        r.set_param(2, 1, 40);
        r.set_found(9);
        r.set_type(9, 0x55, "???");
        r.search_ended(128, 2, {});
        Planned_Loop plan;
        QString why;
        QVERIFY(plan.read("2;KOR;Hall\n3;ZEPHA;Cuisine\n", &why));
        const Report_Header header{"S",   "B",    "T", QDateTime(QDate(2026, 3, 4), QTime(9, 30)),
                                   "3.1", "COM1", {},  {}};
        const QByteArray json = report_json(header, r, plan);
        Earlier_Visit v;
        QVERIFY2(read_report_visit(json, &v, &why), qPrintable(why));
        QCOMPARE(v.when, header.when);
        QCOMPARE(visit_differences(v, r).size(), 0);
        QCOMPARE(int(compare_visit_detector(v.detectors[1], r.at(2), 2, 128)),
                 int(Visit_Change::Same));
        std::map<int, Planned_Loop::Entry> entries;
        QVERIFY2(read_report_plan(json, &entries, &why), qPrintable(why));
        Planned_Loop from_csv;
        QVERIFY2(from_csv.read(report_csv(report_rows(r, plan)), &why), qPrintable(why));
        for (const std::map<int, Planned_Loop::Entry>* got :
             {&std::as_const(entries), &from_csv.entries()}) {
            QStringList seen;
            for (const auto& [a, e] : *got)
                seen << QStringLiteral("%1 %2 %3").arg(a).arg(e.type_text, e.location);
            QCOMPARE(seen, QStringList({"2 KOR Hall", "3 ZEPHA Cuisine", "9 0x55 "}));
        }
        for (const char* bad : {"[]", "{\"detectors\": []}",
                                "{\"date\": \"2026-03-04 09:30:00\", \"detectors\": [{}]}"})
            QVERIFY2(!read_report_visit(bad, &v, &why) && !why.isEmpty(), bad);
        // Every address changed: the section runs over pages of its own, whole.
        Earlier_Visit all;
        all.when = header.when;
        Loop_Record now;
        for (int a = 1; a <= 128; ++a) {
            all.detectors[size_t(a - 1)] = r.at(2);
            now.set_found(a);
            now.set_serial(a, QString::number(a));
        }
        Report_Header with = header;
        add_visit_changes(with, all, now);
        QCOMPARE(with.changes.size(), 128);
        // A detector taken out moves those after it: each is told where it stood.
        all.detectors[5].serial = "42";
        QVERIFY(visit_differences(all, now).value(41).detail.endsWith(
            QString::fromUtf8("était en 006")));
        QCOMPARE(moved_from(v.detectors, r.at(2), 2), QString());
        QVERIFY(report_pdf(with, {}, {}).count("/Type /Page\n") >=
                report_pdf(header, {}, {}).count("/Type /Page\n") + 3);
    }

    void visit_read_back() {
        QTemporaryDir dir;
        const QString path = dir.filePath("site.kalsite");
        good_site(path);
        QString why;
        auto file = site::File::open(path, &why);
        QVERIFY2(file, qPrintable(why));
        QCOMPARE(file->site_name(), QString::fromUtf8("Lycée"));
        QCOMPARE(file->loops(), QStringList{"B2"});
        const QList<site::Visit> visits = file->visits();
        QCOMPARE(visits.size(), 1);
        QCOMPARE(visits[0].loop + visits[0].engineer, QStringLiteral("B2Durand"));
        QCOMPARE(visits[0].started, QDateTime(QDate(2026, 3, 4), QTime(9, 30)));
        QCOMPARE(visits[0].found * 10 + visits[0].read, 11);
        site::Stored_Visit v;
        QVERIFY(file->load_visit(visits[0].id, &v) && !file->load_visit(visits[0].id + 1, &v));
        const record::Detector& d = v.detectors[4];
        QVERIFY(d.found && d.type_code == 0x19 && d.readout == record::Readout::Complete);
        QCOMPARE(d.serial, QStringLiteral("071200300"));
        QCOMPARE(d.params, (std::map<uint8_t, uint8_t>{{1, 255}, {record::Mode_Code, 4}}));
    }
};

int main(int argc, char** argv) {
    if (argc == 3 && qstrcmp(argv[1], Child_Flag) == 0) return record_until_killed(argc, argv);
    QGuiApplication app(argc, argv); // the report's PDF lays out text
    Tst_Site test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_site.moc"
