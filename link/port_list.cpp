#include "link/port_list.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSerialPortInfo>

namespace {

// The by-id links that lead to `device`.
QString stable_name(const QString& device) {
    const QDir by_id(QStringLiteral("/dev/serial/by-id"));
    for (const QFileInfo& link : by_id.entryInfoList(QDir::System | QDir::Files))
        if (link.isSymLink() && QFileInfo(link.symLinkTarget()).canonicalFilePath() ==
                                    QFileInfo(device).canonicalFilePath())
            return link.absoluteFilePath();
    return QString();
}

// The devices other processes have open, as /proc shows them (those of other users only to
// root). Looked at, never opened: opening a port toggles its control lines.
QStringList held_devices() {
    QStringList held;
#ifdef Q_OS_LINUX
    const QString own = QString::number(QCoreApplication::applicationPid());
    const QDir proc(QStringLiteral("/proc"));
    for (const QString& pid : proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        if (pid == own || !pid.at(0).isDigit()) continue;
        const QDir fds(proc.filePath(pid + QStringLiteral("/fd")));
        for (const QFileInfo& fd : fds.entryInfoList(QDir::System | QDir::NoDotAndDotDot)) {
            const QString target = fd.symLinkTarget();
            if (target.startsWith(QLatin1String("/dev/tty"))) held << target;
        }
    }
#endif
    return held;
}

} // namespace

QString Serial_Adapter::usb_ids() const {
    if (vendor < 0 || product < 0) return {};
    return QStringLiteral("%1:%2")
        .arg(vendor, 4, 16, QLatin1Char('0'))
        .arg(product, 4, 16, QLatin1Char('0'));
}

QList<Serial_Adapter> serial_adapters() {
    const QStringList held = held_devices();
    QList<Serial_Adapter> out;
    for (const QSerialPortInfo& p : QSerialPortInfo::availablePorts()) {
        Serial_Adapter a;
        a.device = p.systemLocation();
        a.stable = stable_name(a.device);
        a.description = p.description();
        a.maker = p.manufacturer();
        if (p.hasVendorIdentifier() && p.hasProductIdentifier()) {
            a.vendor = p.vendorIdentifier();
            a.product = p.productIdentifier();
        }
        a.held = held.contains(QFileInfo(a.device).canonicalFilePath()) || held.contains(a.device);
        out << a;
    }
    return out;
}

QString Serial_Adapter::line() const {
    QStringList parts{device};
    if (!stable.isEmpty()) parts << stable;
    if (!description.isEmpty()) parts << description;
    if (!maker.isEmpty()) parts << maker;
    if (!usb_ids().isEmpty()) parts << QStringLiteral("USB ") + usb_ids();
    if (held) parts << QString::fromUtf8("occupé par un autre programme");
    return parts.join(QStringLiteral("  "));
}

QStringList list_serial_ports() {
    QStringList lines;
    for (const Serial_Adapter& a : serial_adapters())
        lines << a.line();
    return lines;
}
