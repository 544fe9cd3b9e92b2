// The loop record and the planned loop, in memory: the planned-loop file as people write it and
// as they get it wrong, and the comparison of the two.
#include "model/loop_record.h"
#include "model/planned_loop.h"

#include <QtTest>

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
        row("not UTF-8", "5;KOR;Caf\xE9", "ce n'est pas un fichier texte");
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
        QVERIFY(plan.read("1;0x13\n2;KOR\n4;KTRW\n5;DLX508B\n7;0x55\n8;0x55", &error));
        const QList<Match> want = {Match::Ok,      Match::Wrong_Type, Match::Unexpected,
                                   Match::Missing, Match::Ok,         Match::None,
                                   Match::Ok,      Match::Wrong_Type};
        for (int a = 1; a <= 8; ++a)
            QCOMPARE(compare(plan, record, a), want.at(a - 1));
    }
};

QTEST_MAIN(Tst_Record)
#include "tst_record.moc"
