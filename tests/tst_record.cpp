// The loop record and the planned loop, in memory: the planned-loop file as people write it and
// as they get it wrong, and the comparison of the two.
#include "app/report.h"
#include "app/report_export.h"
#include "model/loop_record.h"
#include "model/planned_loop.h"
#include "support/harness.h"

#include <QtTest>
#include <csignal>
#include <sys/resource.h>

namespace {

// A loop of three addresses: 1 read whole and in alarm once, 2 found and silent, 3 planned only.
void small_loop(Loop_Record& r, Planned_Loop& plan) {
    r.search_started();
    r.set_found(1);
    r.set_found(2);
    r.search_ended(128, 2, {});
    r.set_type(1, 0x19, QStringLiteral("KOR"));
    r.set_type(2, 0x21, QStringLiteral("ZEPHA"));
    r.readout_started(1);
    r.set_version(1, false, 0x12);
    r.set_serial(1, QStringLiteral("071200300"));
    r.set_param(1, record::Mode_Code, 0x04);
    r.readout_ended(1, record::Readout::Complete);
    r.readout_started(2);
    r.readout_ended(2, record::Readout::Failed);
    r.simulation_started();
    for (auto p : {record::Point::Standby, record::Point::Alarm, record::Point::Standby})
        r.set_point(1, p);
    QString error;
    QVERIFY(plan.read("1;KOR;\"Hall; porte \"\"B\"\"\"\n3;KTRW;Cave", &error));
}

} // namespace

class Tst_Record : public QObject {
    Q_OBJECT
  private slots:
    // A good file gives its entries; a bad one names its first bad line and keeps the old plan.
    void planned_file_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("result"); // entries as ADR:INDEX:LOCATION, or the error's start
        const auto row = [](const char* name, const QByteArray& content, const char* result) {
            QTest::newRow(name) << content << QString::fromUtf8(result);
        };
        row("BOM, header, ';', CRLF, codes and names",
            "\xEF\xBB\xBF"
            "adresse;type;lieu\r\n1;KOR;Bureau 12\r\n2;0x1A;\r\n\r\n3;muro-s3;Hall\r\n",
            "1:1:Bureau 12 2:3: 3:4:Hall");
        row("',' and a quoted location holding it", "7,ZEPHA,\"Salle 3, porte \"\"B\"\"\"\n8,26",
            "7:2:Salle 3, porte \"B\" 8:3:");
        row("empty columns of a spreadsheet", "4;KTRW;;;\n", "4:5:");
        row("address 0", "adr;type\n0;KOR", "Ligne 2 : adresse");
        row("address 129", "129;KOR", "Ligne 1 : adresse");
        row("a second header", "adr;type\nadr;type", "Ligne 2 : adresse");
        row("unknown name", "5;KORX", "Ligne 1 : type");
        row("code the tool has no name for", "5;0x55", "5:0:");
        row("code past a byte", "5;0x155", "Ligne 1 : type");
        row("duplicate address", "5;KOR\n6;KOR\n5;KTRW",
            "Ligne 3 : l'adresse 5 est déjà donnée ligne 1");
        row("one column", "5", "Ligne 1 : 1 colonnes");
        row("four columns", "5;KOR;a;b", "Ligne 1 : 4 colonnes");
        row("open quote", "5;KOR;\"Hall", "Ligne 1 : guillemet");
        row("binary", QByteArray("5;KOR\0\1", 7), "ce n'est pas un fichier texte");
        row("Windows-1252", "5;KOR;Caf\xE9 \x80", "5:1:Café €");
        row("a first line that is data written wrong", "0x07;KOR;Entrée", "Ligne 1 : adresse");
        row("a first line with a decimal address", "7.0;KOR", "Ligne 1 : adresse");
        row("rows of separators only", "1;KOR\n;;\n ; ;\n2;KTRW", "1:1: 2:5:");
        row("lines ending with a lone CR", "adr;type\r1;KOR\r2;KTRW\r", "1:1: 2:5:");
        row("an invisible character shown", "1;KOR\r\x07\xE2\x80\x8B;KOR",
            "Ligne 2 : adresse « \\u0007\\u200b »");
        row("huge", QByteArray(Planned_Loop::Max_Bytes + 1, 'x'), "le fichier dépasse");
        row("no detector", "adresse;type\n\n", "le fichier ne donne aucun");
    }
    void planned_file() {
        QFETCH(QByteArray, content);
        QFETCH(QString, result);
        Planned_Loop plan;
        QString error;
        QVERIFY(plan.read("99;KOR", &error));
        if (!plan.read(content, &error)) {
            QVERIFY2(error.startsWith(result), qPrintable(error));
            QVERIFY(plan.at(99) && plan.entries().size() == 1);
            return;
        }
        QStringList got;
        for (const auto& [adr, e] : plan.entries())
            got << QStringLiteral("%1:%2:%3").arg(adr).arg(e.type_index).arg(e.location);
        QCOMPARE(got.join(' '), result);
    }

    // Each outcome once; a found detector whose type is not read yet is not held against it.
    void comparison() {
        Loop_Record record;
        record.search_started();
        for (int a : {1, 2, 3, 5, 7, 8})
            record.set_found(a);
        record.set_type(7, 0x55, QStringLiteral("???"));
        record.set_type(8, 0x56, QStringLiteral("???"));
        record.set_type(1, 0x19, QStringLiteral("KOR"));
        record.set_type(2, 0x21, QStringLiteral("ZEPHA"));
        record.set_type(3, 0x17, QStringLiteral("KTRW"));
        Planned_Loop plan;
        QString error;
        QCOMPARE(compare(plan, record, 3), Match::None);
        QVERIFY(plan.read("1;0x13\n2;KOR\n4;KTRW\n5;DLX508B\n7;0x55\n8;0x55\n9;KOR", &error));
        // Until a search has ended, and past where one was cut short, nothing is missing.
        const QList<Match> want = {Match::Ok,      Match::Wrong_Type, Match::Unexpected,
                                   Match::Missing, Match::Ok,         Match::None,
                                   Match::Ok,      Match::Wrong_Type, Match::Missing};
        for (const int searched_to : {0, 4, 128}) {
            if (searched_to) record.search_ended(searched_to, 6, {});
            for (int a = 1; a <= 9; ++a)
                QCOMPARE(compare(plan, record, a),
                         want.at(a - 1) == Match::Missing && a > searched_to ? Match::None
                                                                             : want.at(a - 1));
        }
    }

    // The CSV read back gives one row per address found or planned, every row as wide as the
    // header, the text that holds the separator whole.
    void report_csv_read_back() {
        Loop_Record record;
        Planned_Loop plan;
        small_loop(record, plan);
        const QByteArray csv = report_csv(report_rows(record, plan));
        QVERIFY(csv.startsWith("\xEF\xBB\xBF"));
        QStringList lines = QString::fromUtf8(csv.mid(3)).split(QStringLiteral("\r\n"));
        QCOMPARE(lines.takeLast(), QString());
        QCOMPARE(lines.size(), 4);
        QCOMPARE(lines.at(0).count(';'), report_columns().size() - 1);
        const QStringList got = lines.mid(1);
        QCOMPARE(got.at(0),
                 QStringLiteral("001;KOR;0x19;1.2;;071200300;Optique Statique;\"Hall; "
                                "porte \"\"B\"\"\";KOR;conforme;complète;%1;testé;1;0;0;")
                     .arg(record.at(1).readout_at.toString("yyyy-MM-dd HH:mm:ss")));
        QVERIFY(got.at(1).startsWith("002;ZEPHA;0x21;;;;;;;non prévu;échouée;"));
        QVERIFY(got.at(1).endsWith(";non testé;0;0;0;"));
        QCOMPARE(got.at(2), QStringLiteral("003;;;;;;;Cave;KTRW;manquant;;;;;;;"));
    }

    // A cell a spreadsheet would run as a formula is written as text, and a line break of any
    // kind is quoted, so that a row is always one row.
    void csv_cells_data() {
        QTest::addColumn<QString>("cell");
        QTest::addColumn<QString>("written");
        const auto row = [](const char* cell, const char* written) {
            QTest::newRow(cell) << QString::fromUtf8(cell) << QString::fromUtf8(written);
        };
        row("=HYPERLINK(\"http://x\";\"clic\")", "\"'=HYPERLINK(\"\"http://x\"\";\"\"clic\"\")\"");
        row("+cmd|' /C calc'!A0", "'+cmd|' /C calc'!A0");
        row("@SUM(1+1)", "'@SUM(1+1)");
        row("-2+3", "'-2+3");
        row("\tdébut", "'\tdébut");
        row("\rdébut", "\"'\rdébut\"");
        row("Hall\rEst", "\"Hall\rEst\"");
        row("Hall\u2028Est", "\"Hall\u2028Est\"");
        row("Hall B-2 = accueil", "Hall B-2 = accueil");
    }
    void csv_cells() {
        QFETCH(QString, cell);
        QFETCH(QString, written);
        QStringList row(report_columns().size());
        row[7] = cell; // the location
        const QString csv = QString::fromUtf8(report_csv({row}));
        QCOMPARE(csv.count(QStringLiteral("\r\n")), 2);
        QCOMPARE(csv.section(QStringLiteral("\r\n"), 1, 1).section(';', 7), written + ";;;;;;;;;");
    }

    // The report is written whole or not at all, and never over anything: a write cut short (a
    // full disk) takes back the files of that export only; an earlier report of the same minute,
    // or a link planted at a name the window makes up, is left as it is and another name taken.
    void report_all_or_nothing_data() {
        QTest::addColumn<QString>("before"); // in the folder: nothing, a report, or links
        QTest::addColumn<bool>("disk_full");
        QTest::addColumn<int>("files");
        QTest::newRow("written") << "" << false << 3;
        QTest::newRow("disk full at the PDF") << "" << true << 0;
        QTest::newRow("a second one in the same minute") << "report" << false << 6;
        QTest::newRow("a second one, disk full") << "report" << true << 3;
        QTest::newRow("links planted at its names") << "links" << false << 9;
    }
    void report_all_or_nothing() {
        QFETCH(QString, before);
        QFETCH(bool, disk_full);
        QFETCH(int, files);
        std::signal(SIGXFSZ, SIG_IGN);
        Harness h;
        // The names and the folder the export remembers go to the test's own configuration.
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, h.dir.path());
        small_loop(h.t.record, h.t.planned);
        QTemporaryDir out, elsewhere;
        const QDir dir(out.path());
        const auto answer = [&h, &out] {
            h.dialogs.answers << "Lycée Jean-Moulin"
                              << "B2"
                              << "M. Durand" << out.path();
        };
        if (before == "report") {
            answer();
            Export_Report_Mnu_Click(h.t);
        }
        // Links to nothing and to a file, at the names of this minute and the next.
        QFile target(elsewhere.filePath("target"));
        QVERIFY(target.open(QIODevice::WriteOnly) && target.write("mine") == 4);
        target.close();
        for (int minute = 0; minute < 2 && before == "links"; ++minute) {
            const QString stem =
                "rapport-Lycée-Jean-Moulin-B2-" +
                QDateTime::currentDateTime().addSecs(60 * minute).toString("yyyyMMdd-HHmm");
            QFile::link(elsewhere.filePath("nothing"), dir.filePath(stem + ".csv"));
            QFile::link(target.fileName(), dir.filePath(stem + ".pdf"));
            QFile::link(target.fileName(), dir.filePath(stem + ".json"));
        }
        const auto contents = [&dir] {
            QMap<QString, QByteArray> all;
            for (const QString& f : dir.entryList(QDir::Files | QDir::System | QDir::Hidden)) {
                QFile file(dir.filePath(f));
                all[f] = file.open(QIODevice::ReadOnly) ? file.readAll() : "<link>";
            }
            return all;
        };
        const QMap<QString, QByteArray> earlier = contents();
        answer();
        rlimit old{};
        getrlimit(RLIMIT_FSIZE, &old);
        const rlimit small{16384, old.rlim_max};
        if (disk_full) setrlimit(RLIMIT_FSIZE, &small);
        Export_Report_Mnu_Click(h.t);
        setrlimit(RLIMIT_FSIZE, &old);
        const QMap<QString, QByteArray> now = contents();
        QCOMPARE(now.size(), files);
        for (auto it = earlier.begin(); it != earlier.end(); ++it)
            QCOMPARE(now.value(it.key()), it.value());
        QVERIFY(target.open(QIODevice::ReadOnly) && target.readAll() == "mine");
        QVERIFY(!QFile::exists(elsewhere.filePath("nothing")));
        QCOMPARE(h.dialogs.messages.last().style == Msg_Exclamation, disk_full);
        if (disk_full) return;
        QStringList made;
        for (const QString& f : now.keys())
            if (!earlier.contains(f) && f.endsWith(".pdf")) made << f;
        QCOMPARE(made.size(), 1);
        QFile pdf(dir.filePath(made.at(0)));
        QVERIFY(pdf.open(QIODevice::ReadOnly) && pdf.size() > 16384 && pdf.read(5) == "%PDF-");
    }
};

QTEST_MAIN(Tst_Record)
#include "tst_record.moc"
