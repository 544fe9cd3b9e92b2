#include "app/regular_file.h"

#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#else
#include <QSaveFile>
#endif

#ifdef Q_OS_UNIX

namespace {

bool write_all(int fd, const QByteArray& content) {
    const char* p = content.constData();
    qsizetype left = content.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, size_t(left));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        left -= n;
    }
    return true;
}

bool Close(int fd) {
    return ::close(fd) == 0;
}

// Nothing at the name: a new file. O_EXCL and O_NOFOLLOW, so that whatever appears there in the
// meantime (a link planted to somewhere else) is neither followed nor replaced.
bool Create(const QByteArray& name, const QByteArray& content) {
    const int fd =
        ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    const bool ok = write_all(fd, content) && ::fsync(fd) == 0;
    if (Close(fd) && ok) return true;
    ::unlink(name.constData()); // made by this call: no half-written file is left
    return false;
}

enum class Replaced { Done, Failed, No_Temporary };

// The new content goes into a temporary file beside the target, with the target's permissions
// (and, for root, its owner), and takes the target's name only once it is complete and on disk.
Replaced Replace(const QByteArray& target, const struct stat& st, const QByteArray& content) {
    const int slash = target.lastIndexOf('/');
    QByteArray temp = target.left(slash + 1) + '.' + target.mid(slash + 1) + ".XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) return Replaced::No_Temporary;
    bool ok = ::fchmod(fd, st.st_mode & 07777) == 0;
    if (ok && ::geteuid() == 0 && ::fchown(fd, st.st_uid, st.st_gid) != 0) ok = false;
    ok = ok && write_all(fd, content) && ::fsync(fd) == 0;
    ok = Close(fd) && ok;
    if (ok && ::rename(temp.constData(), target.constData()) == 0) return Replaced::Done;
    ::unlink(temp.constData());
    return Replaced::Failed;
}

// Where no temporary file can be made: the content written over the old, then the rest cut off.
bool Overwrite(int fd, const QByteArray& content) {
    return ::lseek(fd, 0, SEEK_SET) == 0 && write_all(fd, content) &&
           ::ftruncate(fd, content.size()) == 0 && ::fsync(fd) == 0;
}

} // namespace

bool write_regular_file(const QString& path, const QByteArray& content) {
    const QByteArray name = QFile::encodeName(path);
    struct stat st {};
    if (::lstat(name.constData(), &st) != 0) return errno == ENOENT && Create(name, content);

    QByteArray target = name;
    if (S_ISLNK(st.st_mode)) {
        char* real = ::realpath(name.constData(), nullptr);
        if (!real) return false; // a link to nothing, or a loop of links
        target = real;
        std::free(real);
        if (::stat(target.constData(), &st) != 0) return false;
    }
    // Tested before any opening: opening a device can act on it.
    if (!S_ISREG(st.st_mode)) return false;

    // Opening it for writing proves the file is ours to write, with the rights the tool runs
    // with; the descriptor must lead to the file looked at, not to one put there since.
    const int fd =
        ::open(target.constData(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat opened {};
    bool ok = ::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) && opened.st_dev == st.st_dev &&
              opened.st_ino == st.st_ino;
    if (ok) {
        const Replaced r = Replace(target, opened, content);
        ok = r == Replaced::Done || (r == Replaced::No_Temporary && Overwrite(fd, content));
    }
    return Close(fd) && ok;
}

#else

bool write_regular_file(const QString& path, const QByteArray& content) {
    QString target = path;
    const QFileInfo info(path);
    if (info.isSymLink()) {
        if (!info.exists()) return false; // a link to nothing
        target = info.symLinkTarget();
    }
    if (QFileInfo::exists(target) && !QFileInfo(target).isFile()) return false;
    QSaveFile file(target);
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) return false;
    if (file.write(content) != content.size() || file.error() != QFileDevice::NoError) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

#endif

// Reading: what stands at the path must be a regular file (a pipe would block, a device never
// end), no larger than `max`.
Read_Result read_regular_file(const QString& path, qint64 max, QByteArray* content) {
    QFile file(path);
    const QFileInfo info(path);
    if (!info.exists()) return Read_Result::Missing;
    if (!info.isFile()) return Read_Result::Not_A_File;
#ifdef Q_OS_UNIX
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? Read_Result::Missing : Read_Result::Unreadable;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return Read_Result::Not_A_File;
    }
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return Read_Result::Unreadable;
    }
#else
    if (!file.open(QIODevice::ReadOnly)) return Read_Result::Unreadable;
#endif
    if (file.size() > max) return Read_Result::Too_Large;
    *content = file.read(max + 1);
    if (file.error() != QFileDevice::NoError) return Read_Result::Unreadable;
    return content->size() > max ? Read_Result::Too_Large : Read_Result::Done;
}
