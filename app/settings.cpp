#include "app/settings.h"

#include "app/numeric_text.h"
#include "link/regular_file.h"
#include "model/tool.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// The file holds two short lines; anything that needs more reading than this before its second
// field has ended is not a settings file and is treated as unreadable.
constexpr qint64 Max_Scan = 1 << 20;
// Longest field text kept; a longer one cannot be a port or phase number.
constexpr qsizetype Max_Field = 256;

// Reads the file as fields separated by commas or line ends (CR LF, CR or LF), leading blanks
// skipped, in bounded memory whatever the file holds.
class Field_Reader {
  public:
    explicit Field_Reader(QFile& file) : file_(file) {}

    // False when there is no further field (end of file) or the file cannot be read.
    bool next(QString* field, bool* too_long) {
        field->clear();
        *too_long = false;
        char c;
        do {
            if (!get(&c)) return false;
        } while (c == ' ' || c == '\t');
        QByteArray text;
        for (;;) {
            if (c == ',' || c == '\n') break;
            if (c == '\r') {
                char next;
                if (get(&next) && next != '\n') unget(next);
                break;
            }
            if (text.size() < Max_Field)
                text.append(c);
            else
                *too_long = true;
            if (!get(&c)) {
                if (failed_) return false;
                break;
            }
        }
        *field = QString::fromLatin1(text);
        return true;
    }

  private:
    bool get(char* c) {
        if (has_back_) {
            has_back_ = false;
            *c = back_;
            return true;
        }
        if (scanned_ >= Max_Scan) {
            failed_ = true;
            return false;
        }
        if (!file_.getChar(c)) {
            failed_ = file_.error() != QFileDevice::NoError;
            return false;
        }
        ++scanned_;
        return true;
    }
    void unget(char c) {
        back_ = c;
        has_back_ = true;
    }

    QFile& file_;
    qint64 scanned_ = 0;
    bool failed_ = false;
    char back_ = 0;
    bool has_back_ = false;
};

struct Stored {
    uint8_t port = 1;
    uint8_t phase = 1;
};

// The two settings as the file gives them; false on any content the tool cannot take, in which
// case the caller falls back to the defaults.
bool parse_settings(QFile& file, Stored* out) {
    Field_Reader reader(file);
    QString field;
    bool too_long = false;

    if (!reader.next(&field, &too_long) || too_long) return false;
    int port = 0;
    if (!round_to_byte(leading_number(field), &port)) return false;
    if (port == 0 || port > 16) port = 1;

    if (!reader.next(&field, &too_long) || too_long) return false;
    const double value = leading_number(field);
    int phase = 0;
    if (!round_to_byte(value, &phase)) return false;
    // The field itself must be a number (an empty one counts as 0) to be compared.
    if (!field.trimmed().isEmpty() && !is_number(field)) return false;
    // A value that rounds to 0 is refused too, so the phase is always 1 or 2.
    if (value > 2 || phase == 0) phase = 1;

    out->port = static_cast<uint8_t>(port);
    out->phase = static_cast<uint8_t>(phase);
    return true;
}

enum class Opened { File, Missing, Unreadable };

// Whether the file is there and its content are both taken from one opening, so a file that
// goes away (or appears) in between cannot be taken for the other case. Only a regular file is
// read: a directory, a pipe or a device in its place would fail or block, and is unreadable.
Opened open_config(QFile& file) {
#ifdef Q_OS_UNIX
    const QByteArray path = QFile::encodeName(file.fileName());
    // Non-blocking, so that a pipe in place of the file does not stall the opening.
    const int fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? Opened::Missing : Opened::Unreadable;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return Opened::Unreadable;
    }
    return Opened::File;
#else
    if (file.open(QIODevice::ReadOnly))
        return QFileInfo(file).isFile() ? Opened::File : Opened::Unreadable;
    return QFileInfo::exists(file.fileName()) ? Opened::Unreadable : Opened::Missing;
#endif
}

} // namespace

QString config_path() {
    return QDir::toNativeSeparators(QDir::current().filePath(QStringLiteral("Kalvenor-2.cfg")));
}

QSettings user_settings() {
    return QSettings(QStringLiteral("kalvenor"), QStringLiteral("kalvenor"));
}

void Read_Config(Tool& t) {
    QFile file(config_path());
    const Opened opened = open_config(file);
    if (opened == Opened::Missing) {
        t.state.Com_Port = 1;
        t.state.Phase_Number = 1;
        t.state.Phase_Code = phase_code(1);
        Write_Config(t);
        return;
    }

    Stored stored;
    if (opened == Opened::File && parse_settings(file, &stored)) {
        t.state.Com_Port = stored.port;
        t.state.Phase_Number = stored.phase;
    } else {
        t.state.Com_Port = 1;
        t.state.Phase_Number = 1;
        t.state.Phase_Code = phase_code(1);
    }
}

void Write_Config(Tool& t) {
    // Failure is silent: the settings stay in effect for this run only.
    const int port = t.port_for_run.active() ? t.port_for_run.settings_port : t.state.Com_Port;
    const QByteArray content = ' ' + QByteArray::number(port) + "\r\n " +
                               QByteArray::number(t.state.Phase_Number) + "\r\n";
    write_regular_file(config_path(), content);
}
