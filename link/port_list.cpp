#include "link/port_list.h"

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

} // namespace

QStringList list_serial_ports() {
    QStringList lines;
    for (const QSerialPortInfo& p : QSerialPortInfo::availablePorts()) {
        QStringList parts{p.systemLocation()};
        const QString stable = stable_name(p.systemLocation());
        if (!stable.isEmpty()) parts << stable;
        if (!p.description().isEmpty()) parts << p.description();
        if (!p.manufacturer().isEmpty()) parts << p.manufacturer();
        if (p.hasVendorIdentifier() && p.hasProductIdentifier())
            parts << QStringLiteral("USB %1:%2")
                         .arg(p.vendorIdentifier(), 4, 16, QLatin1Char('0'))
                         .arg(p.productIdentifier(), 4, 16, QLatin1Char('0'));
        lines << parts.join(QStringLiteral("  "));
    }
    return lines;
}
