// The settings file Kalvenor-2.cfg: reading with its fallbacks, writing byte for byte, and what
// happens when the file or its directory cannot be used.
#include "app/settings.h"
#include "app/shell.h"
#include "app/tool.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

namespace {

const char* const File_Name = "Kalvenor-2.cfg";
constexpr uint8_t Untouched = 99;

QByteArray Read_All(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return QByteArray("<unreadable>");
    return f.readAll();
}

bool Write_All(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// Runs the test body inside a fresh current directory.
class In_Dir {
  public:
    In_Dir() : old_(QDir::currentPath()) { QDir::setCurrent(dir.path()); }
    ~In_Dir() {
        QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QDir::setCurrent(old_);
    }
    QString file() const { return dir.filePath(File_Name); }
    QTemporaryDir dir;

  private:
    QString old_;
};

} // namespace

class Tst_Settings : public QObject {
    Q_OBJECT

  private slots:
    void readConfig_data() {
        QTest::addColumn<bool>("present");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("port");
        QTest::addColumn<int>("phase");
        QTest::addColumn<int>("phase_code"); // 99: left as it was
        QTest::addColumn<QByteArray>("after");

        const QByteArray ones("\x20\x31\x0D\x0A\x20\x31\x0D\x0A");
        QTest::newRow("first start, no file") << false << QByteArray() << 1 << 1 << 1 << ones;
        QTest::newRow("as written, port 3 phase 2")
            << true << QByteArray("\x20\x33\x0D\x0A\x20\x32\x0D\x0A") << 3 << 2 << 99
            << QByteArray(" 3\r\n 2\r\n");
        QTest::newRow("17 then 2")
            << true << QByteArray("17\r\n2\r\n") << 1 << 2 << 99 << QByteArray("17\r\n2\r\n");
        QTest::newRow("16 then 1")
            << true << QByteArray("16\r\n1\r\n") << 16 << 1 << 99 << QByteArray("16\r\n1\r\n");
        QTest::newRow("port 0") << true << QByteArray("0\r\n2\r\n") << 1 << 2 << 99
                                << QByteArray("0\r\n2\r\n");
        QTest::newRow("port 255 fits a byte")
            << true << QByteArray("255\r\n2\r\n") << 1 << 2 << 99 << QByteArray("255\r\n2\r\n");
        QTest::newRow("3 without line 2")
            << true << QByteArray("3\r\n") << 1 << 1 << 1 << QByteArray("3\r\n");
        QTest::newRow("3 without line end")
            << true << QByteArray("3") << 1 << 1 << 1 << QByteArray("3");
        QTest::newRow("empty file") << true << QByteArray() << 1 << 1 << 1 << QByteArray();
        QTest::newRow("300 does not fit a byte")
            << true << QByteArray("300\r\n2\r\n") << 1 << 1 << 1 << QByteArray("300\r\n2\r\n");
        QTest::newRow("256") << true << QByteArray("256\r\n2\r\n") << 1 << 1 << 1
                             << QByteArray("256\r\n2\r\n");
        QTest::newRow("255.6 rounds out of a byte")
            << true << QByteArray("255.6\r\n2\r\n") << 1 << 1 << 1 << QByteArray("255.6\r\n2\r\n");
        QTest::newRow("negative port")
            << true << QByteArray("-3\r\n2\r\n") << 1 << 1 << 1 << QByteArray("-3\r\n2\r\n");
        QTest::newRow("-0.4 rounds to 0")
            << true << QByteArray("-0.4\r\n2\r\n") << 1 << 2 << 99 << QByteArray("-0.4\r\n2\r\n");
        QTest::newRow("letter on line 2")
            << true << QByteArray("5\r\nx\r\n") << 1 << 1 << 1 << QByteArray("5\r\nx\r\n");
        QTest::newRow("line 2 begins with a number")
            << true << QByteArray("5\r\n2x\r\n") << 1 << 1 << 1 << QByteArray("5\r\n2x\r\n");
        QTest::newRow("letter on line 1")
            << true << QByteArray("x\r\n2\r\n") << 1 << 2 << 99 << QByteArray("x\r\n2\r\n");
        QTest::newRow("line 1 begins with a number")
            << true << QByteArray("7abc\r\n2\r\n") << 7 << 2 << 99 << QByteArray("7abc\r\n2\r\n");
        QTest::newRow("4.6 and 1.6 round up")
            << true << QByteArray("4.6\r\n1.6\r\n") << 5 << 2 << 99 << QByteArray("4.6\r\n1.6\r\n");
        QTest::newRow("4.4 rounds down")
            << true << QByteArray("4.4\r\n2\r\n") << 4 << 2 << 99 << QByteArray("4.4\r\n2\r\n");
        QTest::newRow("blanks around") << true << QByteArray("   5  \r\n\t 2 \r\n") << 5 << 2 << 99
                                       << QByteArray("   5  \r\n\t 2 \r\n");
        QTest::newRow("comma between")
            << true << QByteArray("7,2") << 7 << 2 << 99 << QByteArray("7,2");
        QTest::newRow("three fields on a line")
            << true << QByteArray("7,2,9\r\n") << 7 << 2 << 99 << QByteArray("7,2,9\r\n");
        QTest::newRow("comma then nothing")
            << true << QByteArray("7,") << 1 << 1 << 1 << QByteArray("7,");
        QTest::newRow("line feeds only")
            << true << QByteArray("4\n2\n") << 4 << 2 << 99 << QByteArray("4\n2\n");
        QTest::newRow("carriage returns only")
            << true << QByteArray("4\r2\r") << 4 << 2 << 99 << QByteArray("4\r2\r");
        QTest::newRow("exponent") << true << QByteArray("1e1\r\n2\r\n") << 10 << 2 << 99
                                  << QByteArray("1e1\r\n2\r\n");
        QTest::newRow("phase 3") << true << QByteArray("3\r\n3\r\n") << 3 << 1 << 99
                                 << QByteArray("3\r\n3\r\n");
        QTest::newRow("phase 0") << true << QByteArray("3\r\n0\r\n") << 3 << 1 << 99
                                 << QByteArray("3\r\n0\r\n");
        QTest::newRow("phase 2.4 is above 2")
            << true << QByteArray("3\r\n2.4\r\n") << 3 << 1 << 99 << QByteArray("3\r\n2.4\r\n");
        QTest::newRow("phase 0.4 rounds to 0")
            << true << QByteArray("3\r\n0.4\r\n") << 3 << 1 << 99 << QByteArray("3\r\n0.4\r\n");
        QTest::newRow("phase empty line")
            << true << QByteArray("3\r\n\r\n") << 3 << 1 << 99 << QByteArray("3\r\n\r\n");
        QTest::newRow("phase -1") << true << QByteArray("3\r\n-1\r\n") << 1 << 1 << 1
                                  << QByteArray("3\r\n-1\r\n");
        QTest::newRow("phase 255")
            << true << QByteArray("3\r\n255\r\n") << 3 << 1 << 99 << QByteArray("3\r\n255\r\n");
        QTest::newRow("phase 1e999")
            << true << QByteArray("3\r\n1e999\r\n") << 1 << 1 << 1 << QByteArray("3\r\n1e999\r\n");
        const QByteArray binary("\x00\xff\x01,\x02\x00\r\n", 8);
        QTest::newRow("binary") << true << binary << 1 << 1 << 1 << binary;

        // Only the first two fields are read, whatever follows them.
        const QByteArray tail = QByteArray("3\r\n2\r\n") + QByteArray(4 << 20, 'z');
        QTest::newRow("huge tail") << true << tail << 3 << 2 << 99 << tail;
        const QByteArray long_field = QByteArray("5") + QByteArray(3 << 20, ' ') + "\r\n2\r\n";
        QTest::newRow("huge first field") << true << long_field << 1 << 1 << 1 << long_field;
        const QByteArray no_separator(3 << 20, '7');
        QTest::newRow("huge number") << true << no_separator << 1 << 1 << 1 << no_separator;
    }
    void readConfig() {
        QFETCH(bool, present);
        QFETCH(QByteArray, content);
        QFETCH(int, port);
        QFETCH(int, phase);
        QFETCH(int, phase_code);
        QFETCH(QByteArray, after);
        In_Dir in;
        if (present) QVERIFY(Write_All(in.file(), content));
        Tool t;
        t.S.Com_Port = 42;
        t.S.Phase_Number = 42;
        t.S.Phase_Code = Untouched;
        Read_Config(t);
        QCOMPARE(int(t.S.Com_Port), port);
        QCOMPARE(int(t.S.Phase_Number), phase);
        QCOMPARE(int(t.S.Phase_Code), phase_code);
        QVERIFY(Read_All(in.file()) == after);
    }

    void writtenBytes_data() {
        QTest::addColumn<int>("port");
        QTest::addColumn<int>("phase");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("3, 2") << 3 << 2 << QByteArray("\x20\x33\x0D\x0A\x20\x32\x0D\x0A");
        QTest::newRow("16, 1") << 16 << 1 << QByteArray("\x20\x31\x36\x0D\x0A\x20\x31\x0D\x0A");
        QTest::newRow("1, 1") << 1 << 1 << QByteArray("\x20\x31\x0D\x0A\x20\x31\x0D\x0A");
    }
    void writtenBytes() {
        QFETCH(int, port);
        QFETCH(int, phase);
        QFETCH(QByteArray, bytes);
        In_Dir in;
        // A longer old file must not leave its tail behind.
        QVERIFY(Write_All(in.file(), QByteArray(" 12\r\n 2\r\n and some more\r\n")));
        Tool t;
        t.S.Com_Port = static_cast<uint8_t>(port);
        t.S.Phase_Number = static_cast<uint8_t>(phase);
        Write_Config(t);
        QCOMPARE(Read_All(in.file()), bytes);

        Tool back;
        Read_Config(back);
        QCOMPARE(int(back.S.Com_Port), port);
        QCOMPARE(int(back.S.Phase_Number), phase);
    }

    void pathFollowsCurrentDirectory() {
        In_Dir first;
        const QString first_file = first.file();
        QCOMPARE(Config_Path(),
                 QDir::toNativeSeparators(first.dir.path() + QLatin1Char('/') + File_Name));
        Tool a;
        a.S.Com_Port = 4;
        a.S.Phase_Number = 2;
        Write_Config(a);
        {
            In_Dir second;
            QCOMPARE(QFileInfo(Config_Path()).absolutePath(),
                     QFileInfo(second.dir.path()).absoluteFilePath());
            Tool b;
            Read_Config(b);
            QCOMPARE(int(b.S.Com_Port), 1);
            QCOMPARE(int(b.S.Phase_Number), 1);
            QCOMPARE(Read_All(second.file()), QByteArray(" 1\r\n 1\r\n"));
        }
        QCOMPARE(Read_All(first_file), QByteArray(" 4\r\n 2\r\n"));
    }

    void directoryInPlaceOfFile() {
        In_Dir in;
        QVERIFY(QDir(in.dir.path()).mkdir(File_Name));
        Tool t;
        t.S.Phase_Code = Untouched;
        Read_Config(t);
        QCOMPARE(int(t.S.Com_Port), 1);
        QCOMPARE(int(t.S.Phase_Number), 1);
        QCOMPARE(int(t.S.Phase_Code), 1);
        t.S.Com_Port = 6;
        Write_Config(t);
        QVERIFY(QFileInfo(in.file()).isDir());
        QCOMPARE(QDir(in.dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
                 QStringList{File_Name});
    }

    void unreadableFile() {
        if (geteuid() == 0) QSKIP("root reads files whatever their permissions");
        In_Dir in;
        QVERIFY(Write_All(in.file(), " 5\r\n 2\r\n"));
        QVERIFY(QFile::setPermissions(in.file(), QFileDevice::Permissions()));
        Tool t;
        Read_Config(t);
        QCOMPARE(int(t.S.Com_Port), 1);
        QCOMPARE(int(t.S.Phase_Number), 1);
        QVERIFY(QFile::setPermissions(in.file(), QFile::ReadOwner | QFile::WriteOwner));
        QCOMPARE(Read_All(in.file()), QByteArray(" 5\r\n 2\r\n"));
    }

    void unwritableDirectory() {
        if (geteuid() == 0) QSKIP("root writes into read-only directories");
        In_Dir in;
        QVERIFY(Write_All(in.file(), " 5\r\n 2\r\n"));
        QVERIFY(QFile::setPermissions(in.dir.path(), QFile::ReadOwner | QFile::ExeOwner));
        Tool t;
        Read_Config(t);
        QCOMPARE(int(t.S.Com_Port), 5);
        t.S.Com_Port = 9;
        Write_Config(t);
        QCOMPARE(int(t.S.Com_Port), 9);
        QCOMPARE(Read_All(in.file()), QByteArray(" 5\r\n 2\r\n"));
    }

    void missingFileInUnwritableDirectory() {
        if (geteuid() == 0) QSKIP("root writes into read-only directories");
        In_Dir in;
        QVERIFY(QFile::setPermissions(in.dir.path(), QFile::ReadOwner | QFile::ExeOwner));
        Tool t;
        Read_Config(t);
        QCOMPARE(int(t.S.Com_Port), 1);
        QCOMPARE(int(t.S.Phase_Number), 1);
        QVERIFY(!QFileInfo::exists(in.file()));
    }

    // A write that fails half-way (here: a file size limit, as a full disk would) keeps the old
    // settings whole and leaves nothing else behind. Works for root too.
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
        t.S.Phase_Number = 1;
        Write_Config(t);
        setrlimit(RLIMIT_FSIZE, &old_limit);
        std::signal(SIGXFSZ, old_handler);

        QCOMPARE(Read_All(in.file()), QByteArray(" 5\r\n 2\r\n"));
        QCOMPARE(QDir(in.dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
                 QStringList{File_Name});
    }

    // The window is designed with phase 2 selected: loading with phase 1 stored selects phase 1,
    // whose click saves the file again; phase 2 stored leaves the file as it was.
    void loadSavesAgainWithPhaseOne_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QByteArray>("after");
        QTest::addColumn<int>("phase_code");
        QTest::newRow("phase 1 stored")
            << QByteArray("3\r\n1\r\n") << QByteArray(" 3\r\n 1\r\n") << 1;
        QTest::newRow("phase 2 stored")
            << QByteArray("3\r\n2\r\n") << QByteArray("3\r\n2\r\n") << 8;
        QTest::newRow("unreadable falls back to phase 1")
            << QByteArray("3\r\n") << QByteArray(" 1\r\n 1\r\n") << 1;
        QTest::newRow("no file") << QByteArray() << QByteArray(" 1\r\n 1\r\n") << 1;
    }
    void loadSavesAgainWithPhaseOne() {
        QFETCH(QByteArray, content);
        QFETCH(QByteArray, after);
        QFETCH(int, phase_code);
        In_Dir in;
        if (!content.isEmpty()) QVERIFY(Write_All(in.file(), content));
        Tool t;
        Form_Load(t);
        QCOMPARE(Read_All(in.file()), after);
        QCOMPARE(int(t.S.Phase_Code), phase_code);
        QCOMPARE(t.F.Phase_Option(phase_code == 1 ? 1 : 2).Value(), 1);
        QCOMPARE(t.F.Phase_Option(phase_code == 1 ? 2 : 1).Value(), 0);
    }
};

QTEST_GUILESS_MAIN(Tst_Settings)
#include "tst_settings.moc"
