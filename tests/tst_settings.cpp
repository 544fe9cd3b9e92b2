// The settings file Kalvenor-2.cfg: reading with its fallbacks, writing byte for byte, and what
// happens when the file or its directory cannot be used.
#include "app/settings.h"
#include "app/shell.h"
#include "link/line_trace.h"
#include "link/regular_file.h"
#include "model/tool.h"

#include <QtTest>
#include <atomic>
#include <csignal>
#include <optional>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <thread>
#include <unistd.h>

namespace {

const char* const File_Name = "Kalvenor-2.cfg";
const QByteArray No_File = "<no file>";
const QByteArray Stored = " 15\r\n 2\r\n"; // longer than what the tests write
constexpr int U = 99;                      // phase code left as it was
const QList<int> Defaults = {1, 1, 1};
const QByteArray Pipe = "<pipe>";
const QByteArray Written = " 9\r\n 1\r\n";

QByteArray read_all(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : No_File;
}

bool write_all(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

QStringList entries(const QString& dir) {
    return QDir(dir).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System |
                               QDir::Hidden);
}

// A fresh current directory for the test's lifetime.
struct In_Dir {
    In_Dir() { QDir::setCurrent(dir.path()); }
    ~In_Dir() {
        QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QDir::setCurrent(old);
    }
    QString file() const { return dir.filePath(File_Name); }
    QString old = QDir::currentPath();
    QTemporaryDir dir;
};

// Root writes anywhere; for the length of a test it acts as an ordinary user instead, so a
// read-only directory is read-only for it too. Restored on destruction.
struct As_Ordinary_User {
    const bool was_root = geteuid() == 0;
    const bool ok = !was_root || seteuid(65534) == 0; // nobody
    ~As_Ordinary_User() {
        if (was_root && ok && seteuid(0) != 0) qFatal("cannot become root again");
    }
};

QList<int> read_back() {
    Tool t;
    t.state.Com_Port = t.state.Phase_Number = 42;
    t.state.Phase_Code = U;
    Read_Config(t);
    return {t.state.Com_Port, t.state.Phase_Number, t.state.Phase_Code};
}

void write_back(int port, int phase) {
    Tool t;
    t.state.Com_Port = port;
    t.state.Phase_Number = phase;
    Write_Config(t);
}

} // namespace

class Tst_Settings : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() { std::signal(SIGXFSZ, SIG_IGN); } // a write past the size limit fails
    void read_config_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QList<int>>("want"); // port, phase, phase code
        auto row = [](const char* name, const QByteArray& content, QList<int> want) {
            QTest::newRow(name) << content << want;
        };
        row("first start, no file", No_File, {1, 1, 1});
        row("17 then 2", "17\r\n2\r\n", {1, 2, U});
        row("16 then 1", "16\r\n1\r\n", {16, 1, U});
        row("port 0", "0\r\n2\r\n", {1, 2, U});
        row("300 does not", "300\r\n2\r\n", {1, 1, 1});
        row("negative port", "-3\r\n2\r\n", {1, 1, 1});
        row("empty file", "", {1, 1, 1});
        row("letter on line 1", "x\r\n2\r\n", {1, 2, U});
        row("4.6 and 1.6 round up", "4.6\r\n1.6\r\n", {5, 2, U});
        row("blanks, line feeds", " 5 \n\t2 \n", {5, 2, U});
        row("phase 3", "3\r\n3\r\n", {3, 1, U});
        // Bytes that are not text: what reads as numbers is taken, the defaults for the rest.
        row("zero byte after the port", QByteArray("5\0\r\n2\r\n", 7), {5, 2, U});
        row("zero byte after the phase", QByteArray("5\r\n2\0\r\n", 7), {1, 1, 1});
        row("UTF-8 mark before the lines", "\xEF\xBB\xBF 5\r\n 2\r\n", {1, 2, U});
        row("UTF-16 text", QByteArray("\xFF\xFE\x35\0\r\0\n\0\x32\0\r\0\n\0", 14), {1, 1, 1});
        row("commas, d for e", "1e1,2d0,", {10, 2, U});
        row("phase over 2 though it rounds to 2", "2\r\n2.4\r\n", {2, 1, U});
        row("exponent past any double", "1e999\r\n2\r\n", {1, 1, 1});
    }
    void read_config() {
        QFETCH(QByteArray, content);
        QFETCH(QList<int>, want);
        In_Dir in;
        if (content != No_File) QVERIFY(write_all(in.file(), content));
        QCOMPARE(read_back(), want);
        // Reading only writes a missing file, with the fallback values.
        QCOMPARE(read_all(in.file()), content != No_File ? content : QByteArray(" 1\r\n 1\r\n"));
        // What was read, written back, reads the same.
        write_back(want[0], want[1]);
        QCOMPARE(read_back(), QList<int>({want[0], want[1], U}));
    }

    // What sits at the name decides whether a write may go there, for each way the tool writes
    // a file: the settings (replaced whole), a new report (never replacing anything) and the
    // trace (a stream). Only a regular file is written (the one a link leads to included), or a
    // new one where nothing is; a device, pipe, socket or directory, or a link to one or to
    // nothing, is never replaced, nor opened (a pipe would block). Root writes anywhere: the
    // directory rows act as an ordinary user, the file made writable for them. A write cut short
    // (a file size limit, as a full disk would) keeps the old file whole.
    void what_write_replaces_data() {
        // What sits at the settings name, then what the write runs under.
        QTest::addColumn<QString>("at_name");
        QTest::addColumn<QString>("writer");
        QTest::addColumn<QByteArray>("content"); // the regular file's, after the write
        const QList<std::pair<const char*, QByteArray>> rows = {
            {"nothing", Written},
            {"file", Written},
            {"link file", Written},
            {"link fifo", {}},
            {"link socket", {}},
            {"link dir", {}},
            {"link device", {}},
            {"link nothing", {}},
            {"fifo", {}},
            {"socket", {}},
            {"device", {}},
            {"file, read-only dir", Written},
            {"read-only file, read-only dir", Stored},
            {"nothing, read-only dir", No_File},
            {"file, size limit", Stored},
            {"nothing, size limit", No_File}};
        for (const char* writer : {"settings", "new", "stream"})
            for (auto [at, content] : rows) {
                const QString name = QString::fromLatin1(at);
                if (writer == QByteArray("stream") && name.endsWith("size limit")) continue;
                if (writer == QByteArray("new") && name != "nothing")
                    content = name.startsWith("nothing") ? No_File
                              : name.contains("file")    ? Stored
                                                         : QByteArray();
                QTest::newRow(qPrintable(name + " / " + writer)) << name << writer << content;
            }
    }
    void what_write_replaces() {
        QFETCH(QString, at_name);
        QFETCH(QString, writer);
        QFETCH(QByteArray, content);
        In_Dir in;
        QTemporaryDir elsewhere;
        const bool link = at_name.startsWith("link ");
        const QString kind = at_name.section(", ", 0, 0).remove("link ");
        const QString condition = at_name.section(", ", 1);
        const QString object = link ? elsewhere.filePath("target") : in.file();
        const QByteArray path = QFile::encodeName(object);
        if (kind.endsWith("file")) {
            QVERIFY(write_all(object, Stored));
            QFile::setPermissions(object,
                                  QFileDevice::Permissions(kind == "file" ? 0x6666 : 0x4444));
        }
        if (kind == "dir") QVERIFY(QDir().mkdir(object));
        const QMap<QString, mode_t> Node = {
            {"fifo", S_IFIFO}, {"socket", S_IFSOCK}, {"device", S_IFCHR}};
        if (Node.contains(kind) && mknod(path.constData(), Node[kind] | 0666, makedev(1, 3)) != 0)
            QSKIP("only root makes a device node");
        if (link) QVERIFY(QFile::link(object, in.file()));
        struct stat before {};
        lstat(path.constData(), &before);
        const bool read_only_dir = condition == "read-only dir";
        if (read_only_dir)
            QVERIFY(QFile::setPermissions(in.dir.path(), QFileDevice::Permissions(0x5555)));
        rlimit old_limit{};
        QVERIFY(getrlimit(RLIMIT_FSIZE, &old_limit) == 0);
        const rlimit small{4, old_limit.rlim_max};
        if (condition == "size limit") QVERIFY(setrlimit(RLIMIT_FSIZE, &small) == 0);
        {
            std::optional<As_Ordinary_User> user;
            if (read_only_dir && !user.emplace().ok) QSKIP("cannot drop root's rights here");
            if (writer == "settings") {
                write_back(9, 1);
            } else if (writer == "new") {
                create_new_file(in.file(), " 9\r\n 1\r\n");
            } else {
                Line_Trace trace;
                QString why;
                trace.open(in.file(), &why);
            }
        }
        setrlimit(RLIMIT_FSIZE, &old_limit);

        if (link) QVERIFY(QFileInfo(in.file()).isSymLink());
        struct stat after {};
        const bool exists = lstat(path.constData(), &after) == 0;
        if (content == Written && writer == "stream")
            QVERIFY(read_all(object).startsWith("# trace de la ligne"));
        else if (!content.isEmpty())
            QCOMPARE(read_all(object), content);
        else if (kind == "nothing")
            QVERIFY(!exists); // no file made at the end of the link
        else                  // not replaced
            QVERIFY(exists && after.st_ino == before.st_ino && after.st_mode == before.st_mode);
        // Nothing left behind, and nothing made beside the target.
        QCOMPARE(entries(in.dir.path()).size(), int(kind != "nothing" || !content.startsWith("<")));
        QCOMPARE(entries(elsewhere.path()).size(), int(link && kind != "nothing"));
    }

    // Whatever the size, the reader looks at a bounded start of the file: the first two fields
    // or a verdict of unreadable, at once. Sparse files, so the test writes almost nothing. A pipe
    // in the file's place would block an ordinary opening for as long as nobody writes.
    void huge_file_data() {
        QTest::addColumn<QByteArray>("head");
        QTest::addColumn<qint64>("size"); // the head is extended with zero bytes to this size
        QTest::addColumn<QList<int>>("want");
        auto row = [](const char* name, const QByteArray& head, qint64 size, QList<int> want) {
            QTest::newRow(name) << head << size << want;
        };
        row("1 GiB of zero bytes", {}, qint64(1) << 30, Defaults);
        row("two lines, then 1 GiB", Stored, qint64(1) << 30, {15, 2, U});
        row("port field of 2 MiB digits", QByteArray(2 << 20, '7') + "\r\n 2\r\n", 0, Defaults);
        row("2 MiB of blanks before the phase", "5\r\n" + QByteArray(2 << 20, ' ') + "2\r\n", 0,
            Defaults);
        row("pipe in place of the file", Pipe, 0, Defaults);
    }
    void huge_file() {
        QFETCH(QByteArray, head);
        QFETCH(qint64, size);
        QFETCH(QList<int>, want);
        In_Dir in;
        if (head == Pipe)
            QVERIFY(mkfifo(QFile::encodeName(in.file()).constData(), 0600) == 0);
        else
            QVERIFY(write_all(in.file(), head));
        if (size > 0) QVERIFY(QFile::resize(in.file(), size));
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(read_back(), want);
        QVERIFY2(clock.elapsed() < 5000, "reading stalled on a huge file or a pipe");
    }

    // The file is removed while the tool starts reading. The reader either read it whole or
    // found it missing, and then wrote the defaults; never defaults from a file it thought
    // was there, and never a mix. The removal lands at a different moment in each round.
    void file_vanishes_while_read() {
        In_Dir in;
        const QByteArray path = QFile::encodeName(in.file());
        Tool t; // built beforehand: the race is with the reading alone
        for (int round = 0; round < 300; ++round) {
            QVERIFY(write_all(in.file(), Stored));
            t.state.Com_Port = t.state.Phase_Number = 42;
            t.state.Phase_Code = U;
            // Which side waits, and how long, changes with the round: below 0 the reading waits.
            const int lead = (round % 60 - 40) * 100;
            std::atomic<int> step{0}; // 1: the remover waits, 2: go
            std::thread remover([&] {
                step = 1;
                while (step.load() != 2) {
                }
                for (volatile int spin = lead; spin > 0; --spin) {
                }
                ::unlink(path.constData());
            });
            while (step.load() != 1) {
            }
            step = 2;
            for (volatile int spin = -lead; spin > 0; --spin) {
            }
            Read_Config(t);
            remover.join();
            const QList<int> got = {t.state.Com_Port, t.state.Phase_Number, t.state.Phase_Code};
            if (got == QList<int>{15, 2, U}) continue; // read whole
            // Found missing: the defaults, in a new file.
            QCOMPARE(got, Defaults);
            QCOMPARE(read_all(in.file()), QByteArray(" 1\r\n 1\r\n"));
            QVERIFY(QFile::remove(in.file()));
        }
    }

    // The window is designed with phase 2 selected: phase 1 stored selects phase 1, whose
    // click saves the file again, over a longer old file; phase 2 stored leaves it as it was.
    void load_saves_again_with_phase_one() {
        for (const int phase : {1, 2}) {
            In_Dir in;
            const QByteArray stored = "3\r\n" + QByteArray::number(phase) + "\r\n and more\r\n";
            QVERIFY(write_all(in.file(), stored));
            Tool t;
            Form_Load(t);
            QCOMPARE(read_all(in.file()), phase == 1 ? QByteArray(" 3\r\n 1\r\n") : stored);
            QCOMPARE(int(t.state.Phase_Code), phase == 1 ? 1 : 8);
            QVERIFY(t.form.Phase_Option(phase).Value() == 1 &&
                    t.form.Phase_Option(3 - phase).Value() == 0);
        }
    }
};

QTEST_GUILESS_MAIN(Tst_Settings)
#include "tst_settings.moc"
