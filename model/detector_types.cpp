#include "model/detector_types.h"

#include <QRegularExpression>

QString three_digits(int n) {
    return QStringLiteral("%1").arg(n, 3, 10, QLatin1Char('0'));
}

uint8_t type_index(uint8_t type_code) {
    switch (type_code) {
    case 0x13:
    case 0x19:
        return 1;
    case 0x1A:
        return 3;
    case 0x17:
        return 5;
    case 0x21:
        return 2;
    case 0x42:
        return 4;
    default:
        return 0;
    }
}

QString type_name(uint8_t type_code, uint8_t type4_counter) {
    switch (type_index(type_code)) {
    case 1:
        return QStringLiteral("KOR");
    case 2:
        return QStringLiteral("ZEPHA");
    case 3:
        return QStringLiteral("DLX508B");
    case 4:
        return QStringLiteral("MURO-S") + QString::number(type4_counter);
    case 5:
        return QStringLiteral("KTRW");
    default:
        return QStringLiteral("???");
    }
}

int type_index_of(const QString& text) {
    const QString t = text.trimmed().toUpper();
    static const QRegularExpression muro(QStringLiteral("^MURO-S[1-8]?$"));
    if (muro.match(t).hasMatch()) return 4;
    for (const uint8_t code : {0x13, 0x1A, 0x17, 0x21})
        if (t == type_name(code, 0)) return type_index(code);
    const int code = type_code_of(t);
    return code < 0 ? -1 : type_index(uint8_t(code));
}

int type_code_of(const QString& text) {
    const QString t = text.trimmed().toUpper();
    bool ok = false;
    uint code = 0;
    if (t.startsWith(QLatin1String("0X")))
        code = t.mid(2).toUInt(&ok, 16);
    else if (t.endsWith(QLatin1Char('H')))
        code = t.chopped(1).toUInt(&ok, 16);
    else
        code = t.toUInt(&ok, 10);
    return ok && code <= 0xFF ? int(code) : -1;
}
