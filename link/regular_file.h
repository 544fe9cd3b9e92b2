#pragma once
#include <QByteArray>
#include <QString>

class QFile;

// The one way the tool writes a file, whatever the file (settings, report, trace). Only a regular
// file is ever written: a symbolic link is followed to a regular file only; a device, pipe,
// socket or directory at the name, or a link to one or to nothing, is left alone, and nothing
// blocks on opening. A file is written whole or not at all. It lives in the lowest layer so that
// the line's trace uses it too.

// Why a file was not written; None when it was.
enum class File_Fault {
    None,
    Not_Regular,   // a device, pipe, socket or directory at the name, or a link to one
    Dangling_Link, // a link to nothing: its target is never created
    Taken,         // a name that must be new is taken
    No_Folder,
    Denied,
    Read_Only,
    Full, // the disk, a quota or the file size limit
    Other
};
// The reason in French, to follow "NAME : " in a message.
QString file_fault_text(File_Fault fault);

// Writes `content` as the whole of the regular file at `path`, or creates it there when nothing
// is. The new content replaces the old only once it is complete (through a temporary file beside
// the target), or, where no temporary file can be made (a read-only folder), in place.
File_Fault write_regular_file(const QString& path, const QByteArray& content);

// Creates `path` with `content`, complete or not at all, and never replaces anything that
// stands at the name, whatever it is (Taken).
File_Fault create_new_file(const QString& path, const QByteArray& content);

// Opens `file` on the regular file at `path` for a stream of writes, emptied, or creates it there.
// `target` receives the file's real path (where a link leads), for a rename to come.
File_Fault open_regular_stream(QFile& file, const QString& path, QString* target);

// Whether write_regular_file could write `path` now, without touching it: for a command that
// must not find out only at the end of a long run that its result has nowhere to go.
File_Fault check_writable(const QString& path);

// A write past the file size limit (ulimit -f) fails with a full disk's fault instead of killing
// the program with SIGXFSZ. Called once at start.
void file_size_limit_as_fault();

enum class Read_Result { Done, Missing, Not_A_File, Unreadable, Too_Large };
// Reads the whole regular file at `path` when it holds at most `max` bytes.
Read_Result read_regular_file(const QString& path, qint64 max, QByteArray* content);
// Reads the first `n` bytes (fewer if the file is shorter) of the regular file at `path`.
Read_Result read_regular_head(const QString& path, qint64 n, QByteArray* head);
