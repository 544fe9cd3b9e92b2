#include "link/regular_file.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#else
#include <QSaveFile>
#endif

QString file_fault_text(File_Fault fault) {
    switch (fault) {
    case File_Fault::None:
        return QString();
    case File_Fault::Not_Regular:
        return QString::fromUtf8("ce n'est pas un fichier ordinaire (périphérique, tube, socket "
                                 "ou dossier) : il n'est pas touché");
    case File_Fault::Dangling_Link:
        return QString::fromUtf8("c'est un lien vers un fichier absent : il n'est pas suivi");
    case File_Fault::Taken:
        return QString::fromUtf8("un fichier de ce nom existe déjà");
    case File_Fault::No_Folder:
        return QString::fromUtf8("le dossier n'existe pas");
    case File_Fault::Denied:
        return QString::fromUtf8("écriture refusée (droits d'accès)");
    case File_Fault::Read_Only:
        return QString::fromUtf8("le disque est en lecture seule");
    case File_Fault::Full:
        return QString::fromUtf8("disque plein (ou taille de fichier limitée)");
    case File_Fault::Other:
        break;
    }
    return QString::fromUtf8("l'écriture a échoué");
}

#ifdef Q_OS_UNIX

namespace {

using F = File_Fault;

F fault_of(int error) {
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return F::No_Folder;
    case EACCES:
    case EPERM:
        return F::Denied;
    case EROFS:
        return F::Read_Only;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return F::Full;
    case EEXIST:
        return F::Taken;
    case ELOOP:
    case EISDIR:
    case ENXIO:
    case ENODEV:
        return F::Not_Regular;
    default:
        return F::Other;
    }
}

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

// Everything written and on disk, or why not.
F fill(int fd, const QByteArray& content) {
    return write_all(fd, content) && ::fsync(fd) == 0 ? F::None : fault_of(errno);
}

// A failed close is a failed write too (network file systems report there).
F close_after(int fd, F so_far) {
    const bool closed = ::close(fd) == 0;
    if (so_far != F::None) return so_far;
    return closed ? F::None : fault_of(errno);
}

// A new name in a folder lasts once the folder itself is on disk.
void sync_folder(const QByteArray& name) {
    const int slash = name.lastIndexOf('/');
    const QByteArray folder = slash < 0 ? QByteArray(".") : name.left(std::max(slash, 1));
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

// What stands at `name` (lstat in `st`) may be written when it is a regular file or a link to
// one; `target` is then the file's real path, and `st` its own.
F resolve(const QByteArray& name, struct stat* st, QByteArray* target) {
    *target = name;
    if (S_ISLNK(st->st_mode)) {
        char* real = ::realpath(name.constData(), nullptr);
        if (!real) return errno == ENOENT || errno == ELOOP ? F::Dangling_Link : fault_of(errno);
        *target = real;
        std::free(real);
        if (::stat(target->constData(), st) != 0) return fault_of(errno);
    }
    // Tested before any opening: opening a device can act on it.
    return S_ISREG(st->st_mode) ? F::None : F::Not_Regular;
}

// Opens the regular file found by resolve(), never blocking, and checks that the descriptor
// leads to that file and not to one put there since. -1 with the fault otherwise.
int open_resolved(const QByteArray& target, const struct stat& st, F* fault) {
    const int fd =
        ::open(target.constData(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        *fault = fault_of(errno);
        return -1;
    }
    struct stat opened {};
    if (::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) && opened.st_dev == st.st_dev &&
        opened.st_ino == st.st_ino) {
        *fault = F::None;
        return fd;
    }
    ::close(fd);
    *fault = F::Not_Regular;
    return -1;
}

mode_t new_file_mode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

// A hidden file beside `name`, for this write only.
int make_temporary(const QByteArray& name, QByteArray* temp) {
    const int slash = name.lastIndexOf('/');
    *temp = name.left(slash + 1) + '.' + name.mid(slash + 1) + ".XXXXXX";
    return ::mkostemp(temp->data(), O_CLOEXEC);
}

bool no_such_rename(int error) {
    return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP;
}

// Where neither a rename that keeps what stands at the name nor a hard link exists (some
// removable media): the file is made under its name with O_EXCL, and taken back if not whole.
F create_in_place(const QByteArray& name, const QByteArray& content) {
    const int fd = ::open(name.constData(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd < 0) return fault_of(errno);
    const F f = close_after(fd, fill(fd, content));
    if (f != F::None) ::unlink(name.constData());
    return f;
}

// The new file is written whole under a temporary name, then takes its name only if nothing has
// taken it meanwhile, whatever it is: nothing planted there is followed or replaced.
F create_new(const QByteArray& name, const QByteArray& content) {
    QByteArray temp;
    const int fd = make_temporary(name, &temp);
    if (fd < 0) return fault_of(errno);
    F f = ::fchmod(fd, new_file_mode()) == 0 ? F::None : fault_of(errno);
    if (f == F::None) f = fill(fd, content);
    f = close_after(fd, f);
    if (f == F::None) {
        if (::renameat2(AT_FDCWD, temp.constData(), AT_FDCWD, name.constData(), RENAME_NOREPLACE) ==
            0) {
            sync_folder(name);
            return F::None;
        }
        f = fault_of(errno);
        if (no_such_rename(errno)) {
            f = ::link(temp.constData(), name.constData()) == 0 ? F::None : fault_of(errno);
            if (f == F::Denied || no_such_rename(errno)) f = create_in_place(name, content);
        }
    }
    ::unlink(temp.constData());
    if (f == F::None) sync_folder(name);
    return f;
}

// The new content goes into a temporary file beside the target, with the target's permissions
// (and, for root, its owner), and takes the target's name only once it is complete and on disk.
// No_Folder when no temporary file can be made there.
F replace(const QByteArray& target, const struct stat& st, const QByteArray& content) {
    QByteArray temp;
    const int fd = make_temporary(target, &temp);
    if (fd < 0) return F::No_Folder;
    F f = ::fchmod(fd, st.st_mode & 07777) == 0 ? F::None : fault_of(errno);
    if (f == F::None && ::geteuid() == 0 && ::fchown(fd, st.st_uid, st.st_gid) != 0)
        f = fault_of(errno);
    if (f == F::None) f = fill(fd, content);
    f = close_after(fd, f);
    if (f == F::None && ::rename(temp.constData(), target.constData()) == 0) {
        sync_folder(target);
        return F::None;
    }
    if (f == F::None) f = fault_of(errno);
    ::unlink(temp.constData());
    return f == F::No_Folder ? F::Other : f;
}

// Where no temporary file can be made: the content written over the old, then the rest cut off.
F overwrite(int fd, const QByteArray& content) {
    if (::lseek(fd, 0, SEEK_SET) != 0 || !write_all(fd, content) ||
        ::ftruncate(fd, content.size()) != 0 || ::fsync(fd) != 0)
        return fault_of(errno);
    return F::None;
}

} // namespace

File_Fault write_regular_file(const QString& path, const QByteArray& content) {
    const QByteArray name = QFile::encodeName(path);
    struct stat st {};
    if (::lstat(name.constData(), &st) != 0)
        return errno == ENOENT ? create_new(name, content) : fault_of(errno);
    QByteArray target;
    F f = resolve(name, &st, &target);
    if (f != F::None) return f;
    // Opening it for writing proves the file is ours to write, with the rights the tool runs with.
    const int fd = open_resolved(target, st, &f);
    if (fd < 0) return f;
    f = replace(target, st, content);
    if (f == F::No_Folder) f = overwrite(fd, content);
    return close_after(fd, f);
}

File_Fault create_new_file(const QString& path, const QByteArray& content) {
    return create_new(QFile::encodeName(path), content);
}

File_Fault open_regular_stream(QFile& file, const QString& path, QString* target_path) {
    const QByteArray name = QFile::encodeName(path);
    QByteArray target = name;
    struct stat st {};
    F f = F::None;
    int fd = -1;
    if (::lstat(name.constData(), &st) != 0) {
        if (errno != ENOENT) return fault_of(errno);
        fd = ::open(name.constData(),
                    O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0666);
        if (fd < 0) return fault_of(errno);
    } else {
        if ((f = resolve(name, &st, &target)) != F::None) return f;
        if ((fd = open_resolved(target, st, &f)) < 0) return f;
        if (::ftruncate(fd, 0) != 0 ||
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0)
            return close_after(fd, fault_of(errno));
    }
    if (!file.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle))
        return close_after(fd, F::Other);
    if (target_path) *target_path = QFile::decodeName(target);
    return F::None;
}

File_Fault check_writable(const QString& path) {
    const QByteArray name = QFile::encodeName(path);
    struct stat st {};
    if (::lstat(name.constData(), &st) != 0) {
        if (errno != ENOENT) return fault_of(errno);
        const int slash = name.lastIndexOf('/');
        const QByteArray folder = slash < 0 ? QByteArray(".") : name.left(std::max(slash, 1));
        struct stat dir {};
        if (::stat(folder.constData(), &dir) != 0 || !S_ISDIR(dir.st_mode)) return F::No_Folder;
        return ::access(folder.constData(), W_OK | X_OK) == 0 ? F::None : fault_of(errno);
    }
    QByteArray target;
    F f = resolve(name, &st, &target);
    if (f != F::None) return f;
    const int fd = open_resolved(target, st, &f);
    if (fd >= 0) ::close(fd);
    return f;
}

void file_size_limit_as_fault() {
    std::signal(SIGXFSZ, SIG_IGN);
}

#else

// Elsewhere, Qt's own safe writer; links and special files are rare there.
namespace {

File_Fault save(const QString& target, const QByteArray& content) {
    QSaveFile file(target);
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) return File_Fault::Denied;
    if (file.write(content) != content.size() || file.error() != QFileDevice::NoError) {
        file.cancelWriting();
        return File_Fault::Full;
    }
    return file.commit() ? File_Fault::None : File_Fault::Full;
}

File_Fault resolve(const QString& path, QString* target) {
    const QFileInfo info(path);
    *target = path;
    if (info.isSymLink()) {
        if (!info.exists()) return File_Fault::Dangling_Link;
        *target = info.symLinkTarget();
    }
    return QFileInfo::exists(*target) && !QFileInfo(*target).isFile() ? File_Fault::Not_Regular
                                                                      : File_Fault::None;
}

} // namespace

File_Fault write_regular_file(const QString& path, const QByteArray& content) {
    QString target;
    const File_Fault f = resolve(path, &target);
    return f == File_Fault::None ? save(target, content) : f;
}

File_Fault create_new_file(const QString& path, const QByteArray& content) {
    if (QFileInfo(path).exists() || QFileInfo(path).isSymLink()) return File_Fault::Taken;
    return save(path, content);
}

File_Fault open_regular_stream(QFile& file, const QString& path, QString* target) {
    const File_Fault f = resolve(path, target);
    if (f != File_Fault::None) return f;
    file.setFileName(*target);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) ? File_Fault::None
                                                                 : File_Fault::Denied;
}

File_Fault check_writable(const QString& path) {
    QString target;
    return resolve(path, &target);
}

void file_size_limit_as_fault() {}

#endif

// Reading: what stands at the path must be a regular file (a pipe would block, a device never
// end), no larger than `max`.
namespace {

// Opens the regular file at `path` for reading, without blocking on a pipe or a device.
Read_Result open_regular(const QString& path, QFile& file) {
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
    file.setFileName(path);
    if (!file.open(QIODevice::ReadOnly)) return Read_Result::Unreadable;
#endif
    return Read_Result::Done;
}

} // namespace

Read_Result read_regular_file(const QString& path, qint64 max, QByteArray* content) {
    QFile file;
    if (const Read_Result r = open_regular(path, file); r != Read_Result::Done) return r;
    if (file.size() > max) return Read_Result::Too_Large;
    *content = file.read(max + 1);
    if (file.error() != QFileDevice::NoError) return Read_Result::Unreadable;
    return content->size() > max ? Read_Result::Too_Large : Read_Result::Done;
}

Read_Result read_regular_head(const QString& path, qint64 n, QByteArray* head) {
    QFile file;
    if (const Read_Result r = open_regular(path, file); r != Read_Result::Done) return r;
    *head = file.read(n);
    return file.error() == QFileDevice::NoError ? Read_Result::Done : Read_Result::Unreadable;
}
