#include "link/line_trace.h"

#include "link/regular_file.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

bool Line_Trace::open(const QString& path, QString* why, qint64 limit) {
    close();
    failure_.clear();
    limit_ = std::max<qint64>(limit, 4096);
    path_ = path;
    clock_.start();
    return start_file(path, why);
}

bool Line_Trace::start_file(const QString& path, QString* why) {
    const File_Fault fault = open_regular_stream(file_, path, &target_);
    if (fault != File_Fault::None) {
        *why =
            QStringLiteral("%1 : %2").arg(QDir::toNativeSeparators(path), file_fault_text(fault));
        return false;
    }
    written_ = 0;
    line(QStringLiteral("# trace de la ligne, %1 ; temps en ms depuis le début ; > vers la "
                        "carte, < de la carte")
             .arg(QDateTime::currentDateTime().toString(Qt::ISODate))
             .toUtf8());
    return is_open();
}

void Line_Trace::close() {
    if (is_open()) file_.close();
}

void Line_Trace::line(const QByteArray& text) {
    if (!is_open()) return;
    QByteArray out =
        QByteArray::number(double(clock_.nsecsElapsed()) / 1e6, 'f', 3).rightJustified(12) + ' ' +
        text + '\n';
    if (text.startsWith('#')) out = text + '\n';
    if (file_.write(out) != out.size() || !file_.flush()) {
        stop(QString::fromUtf8("l'écriture de %1 a échoué (disque plein ?) : la trace s'arrête")
                 .arg(QDir::toNativeSeparators(path_)));
        return;
    }
    written_ += out.size();
    if (written_ < limit_) return;
    // The file itself becomes FILE.1, replacing only an older part of the trace: anything else
    // standing at that name (a link, a pipe, a folder) stops the trace instead.
    file_.close();
    const QString older = target_ + QStringLiteral(".1");
    const QFileInfo at_older(older);
    const bool ours = !at_older.isSymLink() && (!at_older.exists() || at_older.isFile());
    QString why;
    if (!ours || (at_older.exists() && !QFile::remove(older)) || !QFile::rename(target_, older))
        stop(QString::fromUtf8("%1 ne peut pas prendre la place de l'ancien : la trace s'arrête")
                 .arg(QDir::toNativeSeparators(older)));
    else if (!start_file(target_, &why))
        stop(why + QString::fromUtf8(" : la trace s'arrête"));
}

void Line_Trace::stop(const QString& why) {
    if (!failure_.isEmpty()) return;
    failure_ = why;
    file_.close();
    if (stopped) stopped();
}

void Line_Trace::exchange_begins() {
    line("[");
}

void Line_Trace::sent(uint8_t byte, bool written) {
    line("> " + QByteArray::number(byte, 16).rightJustified(2, '0') +
         (written ? QByteArray() : QByteArray(" (non écrit)")));
}

void Line_Trace::received(const QByteArray& bytes, bool dropped) {
    if (bytes.isEmpty()) return;
    line("< " + bytes.toHex(' ') + (dropped ? QByteArray(" (ignoré)") : QByteArray()));
}

void Line_Trace::exchange_ends(const char* outcome) {
    line(QByteArray("] ") + outcome);
}

void Line_Trace::note(const QByteArray& text) {
    line("* " + text);
}
