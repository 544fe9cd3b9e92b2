// Fuzz target: the input is the content of the settings file. Reading it never crashes and
// always gives a port of 1 to 16 and a phase of 1 or 2; a file that falls back to the defaults
// is left as it was; and what is read, written back and read again is the same.
#include "app/settings.h"
#include "model/tool.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr uint8_t Untouched = 99;

[[noreturn]] void fail(const char* what, int port, int phase, int code) {
    std::fprintf(stderr, "fuzz_settings: %s (port %d, phase %d, phase code %d)\n", what, port,
                 phase, code);
    std::abort();
}

QByteArray file_content() {
    QFile f(config_path());
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

struct Read_Result {
    int port, phase, code;
};

// One tool for the whole run: the settings code only touches these three values, and building
// a window per input would cost more than the reading.
Tool& the_tool() {
    static Tool t;
    return t;
}

Read_Result Read() {
    Tool& t = the_tool();
    t.state.Com_Port = t.state.Phase_Number = 42;
    t.state.Phase_Code = Untouched;
    Read_Config(t);
    return {t.state.Com_Port, t.state.Phase_Number, t.state.Phase_Code};
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // One private current directory for the whole run; removed at exit.
    // In memory where there is a tmpfs: every settings write syncs the file to disk.
    const QString base = QFileInfo(QStringLiteral("/dev/shm")).isWritable()
                             ? QStringLiteral("/dev/shm")
                             : QDir::tempPath();
    static QTemporaryDir dir(base + QStringLiteral("/kalvenor-fuzz_settings-XXXXXX"));
    if (!dir.isValid() || !QDir::setCurrent(dir.path())) {
        std::fprintf(stderr, "fuzz_settings: no temporary directory\n");
        std::abort();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray content(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    {
        QFile f(config_path());
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            f.write(content) != content.size())
            fail("cannot write the input file", 0, 0, 0);
    }

    const Read_Result first = Read();
    if (first.port < 1 || first.port > 16)
        fail("port out of range", first.port, first.phase, first.code);
    if (first.phase != 1 && first.phase != 2)
        fail("phase out of range", first.port, first.phase, first.code);
    const bool fell_back = first.code != Untouched;
    if (fell_back && (first.code != 1 || first.port != 1 || first.phase != 1))
        fail("a fallback that is not the defaults", first.port, first.phase, first.code);
    if (file_content() != content)
        fail("reading changed the file", first.port, first.phase, first.code);

    Tool& t = the_tool();
    t.state.Com_Port = static_cast<uint8_t>(first.port);
    t.state.Phase_Number = static_cast<uint8_t>(first.phase);
    Write_Config(t);
    const Read_Result again = Read();
    if (again.port != first.port || again.phase != first.phase || again.code != Untouched)
        fail("the values written do not read back", again.port, again.phase, again.code);
    return 0;
}
