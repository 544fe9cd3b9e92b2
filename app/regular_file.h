#pragma once
#include <QByteArray>
#include <QString>

// Writes `content` as the whole of the regular file at `path`, or creates it there when nothing
// is. A symbolic link is followed only to a regular file; a device, pipe, socket or directory,
// or a link to one or to nothing, is left alone and the write fails. The new content replaces
// the old only once it is complete (through a temporary file beside the target), or, where no
// temporary file can be made (a read-only directory), in place. False when nothing was written.
bool write_regular_file(const QString& path, const QByteArray& content);

enum class Read_Result { Done, Missing, Not_A_File, Unreadable, Too_Large };
// Reads the whole regular file at `path` when it holds at most `max` bytes.
Read_Result read_regular_file(const QString& path, qint64 max, QByteArray* content);
