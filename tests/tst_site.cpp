// Site files: what opening does with files that are not ours, damaged or held elsewhere (a French
// reason, the file left as it was), and what a visit written is when the file is opened again.
#include "app/site_file.h"
#include "app/site_menu.h"
#include "app/site_recorder.h"
#include "support/harness.h"

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
    QCoreApplication app(argc, argv);
    Tst_Site test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_site.moc"
