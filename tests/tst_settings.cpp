// The settings file Kalvenor-2.cfg: reading with its fallbacks, writing byte for byte, and what
// happens when the file or its directory cannot be used.
#include "app/settings.h"
#include "app/shell.h"
#include "app/tool.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

namespace {

const char* const File_Name = "Kalvenor-2.cfg";
const QByteArray No_File = "<no file>";
constexpr int U = 99; // phase code left as it was

QByteArray Read_All(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : No_File;
}

bool Write_All(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// A fresh current directory for the test's lifetime.
struct In_Dir {
    In_Dir() : old(QDir::currentPath()) { QDir::setCurrent(dir.path()); }
    ~In_Dir() {
        QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QDir::setCurrent(old);
    }
    QString file() const { return dir.filePath(File_Name); }
    QStringList entries() const {
        return QDir(dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries);
    }
    QTemporaryDir dir;
    QString old;
};

QList<int> Read_Back() {
    Tool t;
    t.S.Com_Port = t.S.Phase_Number = 42;
    t.S.Phase_Code = U;
    Read_Config(t);
    return {t.S.Com_Port, t.S.Phase_Number, t.S.Phase_Code};
}

} // namespace

class Tst_Settings : public QObject {
    Q_OBJECT

  private slots:
    void readConfig_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QList<int>>("want"); // port, phase, phase code
        auto row = [](const char* name, const char* content, QList<int> want) {
            QTest::newRow(name) << QByteArray(content) << want;
        };
        row("first start, no file", No_File, {1, 1, 1});
        row("17 then 2", "17\r\n2\r\n", {1, 2, U});
        row("16 then 1", "16\r\n1\r\n", {16, 1, U});
        row("port 0", "0\r\n2\r\n", {1, 2, U});
        row("255 fits a byte", "255\r\n2\r\n", {1, 2, U});
        row("300 does not", "300\r\n2\r\n", {1, 1, 1});
        row("negative port", "-3\r\n2\r\n", {1, 1, 1});
        row("3 without line 2", "3\r\n", {1, 1, 1});
        row("empty file", "", {1, 1, 1});
        row("letter on line 1", "x\r\n2\r\n", {1, 2, U});
        row("letter on line 2", "5\r\nx\r\n", {1, 1, 1});
        row("4.6 and 1.6 round up", "4.6\r\n1.6\r\n", {5, 2, U});
        row("blanks, line feeds", " 5 \n\t2 \n", {5, 2, U});
        row("phase 3", "3\r\n3\r\n", {3, 1, U});
        row("phase -1", "3\r\n-1\r\n", {1, 1, 1});
    }
    void readConfig() {
        QFETCH(QByteArray, content);
        QFETCH(QList<int>, want);
        In_Dir in;
        if (content != No_File) QVERIFY(Write_All(in.file(), content));
        QCOMPARE(Read_Back(), want);
        // Reading only writes a missing file, with the fallback values.
        QCOMPARE(Read_All(in.file()), content != No_File ? content : QByteArray(" 1\r\n 1\r\n"));
    }

    void pathFollowsCurrentDirectory() {
        In_Dir first;
        QCOMPARE(Config_Path(), QDir::toNativeSeparators(first.file()));
        Tool a;
        a.S.Com_Port = 4;
        a.S.Phase_Number = 2;
        Write_Config(a);
        {
            In_Dir second;
            QCOMPARE(Read_Back(), (QList<int>{1, 1, 1}));
        }
        QCOMPARE(Read_All(first.file()), QByteArray("\x20\x34\x0D\x0A\x20\x32\x0D\x0A"));
    }

    void directoryInPlaceOfFile() {
        In_Dir in;
        QVERIFY(QDir(in.dir.path()).mkdir(File_Name));
        QCOMPARE(Read_Back(), (QList<int>{1, 1, 1}));
        Tool t;
        Write_Config(t);
        QVERIFY(QFileInfo(in.file()).isDir() && in.entries() == QStringList{File_Name});
    }

    void unwritableDirectory() {
        if (geteuid() == 0) QSKIP("root writes into read-only directories");
        In_Dir in;
        QVERIFY(Write_All(in.file(), " 5\r\n 2\r\n"));
        QVERIFY(QFile::setPermissions(in.dir.path(), QFile::ReadOwner | QFile::ExeOwner));
        QCOMPARE(Read_Back(), (QList<int>{5, 2, U}));
        Tool t;
        t.S.Com_Port = 9;
        Write_Config(t);
        QCOMPARE(Read_All(in.file()), QByteArray(" 5\r\n 2\r\n"));
    }

    // A write cut short (a file size limit, as a full disk would) keeps the old settings whole
    // and leaves nothing else behind. Works for root too.
    void failedWriteKeepsOldFile() {
        In_Dir in;
        QVERIFY(Write_All(in.file(), " 5\r\n 2\r\n"));
        rlimit old_limit{};
        QVERIFY(getrlimit(RLIMIT_FSIZE, &old_limit) == 0);
        const auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit small = old_limit;
        small.rlim_cur = 4;
        QVERIFY(setrlimit(RLIMIT_FSIZE, &small) == 0);
        Tool t;
        t.S.Com_Port = 12;
        Write_Config(t);
        setrlimit(RLIMIT_FSIZE, &old_limit);
        std::signal(SIGXFSZ, old_handler);
        QCOMPARE(Read_All(in.file()), QByteArray(" 5\r\n 2\r\n"));
        QCOMPARE(in.entries(), QStringList{File_Name}); // no temporary left behind
    }

    // The window is designed with phase 2 selected: phase 1 stored selects phase 1, whose
    // click saves the file again, over a longer old file; phase 2 stored leaves it as it was.
    void loadSavesAgainWithPhaseOne() {
        for (const int phase : {1, 2}) {
            In_Dir in;
            const QByteArray stored = "3\r\n" + QByteArray::number(phase) + "\r\n and more\r\n";
            QVERIFY(Write_All(in.file(), stored));
            Tool t;
            Form_Load(t);
            QCOMPARE(Read_All(in.file()), phase == 1 ? QByteArray(" 3\r\n 1\r\n") : stored);
            QCOMPARE(int(t.S.Phase_Code), phase == 1 ? 1 : 8);
            QVERIFY(t.F.Phase_Option(phase).Value() == 1 &&
                    t.F.Phase_Option(3 - phase).Value() == 0);
        }
    }
};

QTEST_GUILESS_MAIN(Tst_Settings)
#include "tst_settings.moc"
