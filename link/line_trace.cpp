#include "link/line_trace.h"

#include <QDateTime>

bool Line_Trace::open(const QString& path, QString* why, qint64 limit) {
    close();
    failure_.clear();
    limit_ = std::max<qint64>(limit, 4096);
    file_.setFileName(path);
    clock_.start();
    if (!start_file()) {
        *why = QString::fromUtf8("le fichier %1 ne peut pas être écrit (dossier absent, droits "
                                 "d'écriture ?)")
                   .arg(path);
        return false;
    }
    return true;
}

bool Line_Trace::start_file() {
    if (!file_.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) return false;
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
        failure_ = QString::fromUtf8("l'écriture de %1 a échoué (disque plein ?) : la trace "
                                     "s'arrête")
                       .arg(file_.fileName());
        file_.close();
        if (stopped) stopped();
        return;
    }
    written_ += out.size();
    if (written_ < limit_) return;
    const QString path = file_.fileName();
    file_.close();
    QFile::remove(path + QStringLiteral(".1"));
    QFile::rename(path, path + QStringLiteral(".1"));
    if (!start_file() && failure_.isEmpty()) {
        failure_ =
            QString::fromUtf8("%1 ne peut pas être recommencé : la trace s'arrête").arg(path);
        if (stopped) stopped();
    }
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
