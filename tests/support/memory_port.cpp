#include "support/memory_port.h"

#include <QTimer>

void Memory_Port::arrive(const QByteArray& bytes, quint64 session) {
    if (!open_ || session != session_) return;
    in_.append(bytes);
    check_threshold();
}

void Memory_Port::deliver(const QByteArray& bytes) {
    QMetaObject::invokeMethod(
        this, [this, bytes, session = session_] { arrive(bytes, session); }, Qt::QueuedConnection);
}

void Memory_Port::deliver_later(const QByteArray& bytes, int ms) {
    QTimer::singleShot(ms, Qt::PreciseTimer, this,
                       [this, bytes, session = session_] { arrive(bytes, session); });
}

void Memory_Port::hang_up() {
    const quint64 session = session_;
    QMetaObject::invokeMethod(
        this,
        [this, session] {
            if (!open_ || session != session_) return;
            close();
            emit comm_event();
        },
        Qt::QueuedConnection);
}

bool Memory_Port::open(int number) {
    close();
    if (open_fails_ || number < 1 || (number_ && number != number_)) return false;
    open_ = true;
    return true;
}

void Memory_Port::close() {
    ++session_;
    open_ = false;
    in_.clear();
}

QByteArray Memory_Port::Input() {
    if (!open_) return {};
    QByteArray out;
    out.swap(in_);
    return out;
}

bool Memory_Port::Output(uint8_t byte) {
    if (!open_) return false;
    written_.append(static_cast<char>(byte));
    if (!answer_) return true;
    if (const std::optional<QByteArray> reply = answer_(byte); reply && !reply->isEmpty())
        deliver(*reply);
    return true;
}

QString Memory_Port::device_name(int number) const {
    return QStringLiteral("memory:COM%1").arg(number);
}
