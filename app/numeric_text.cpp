#include "app/numeric_text.h"

#include <QString>
#include <cmath>
#include <limits>

namespace {

bool Is_Blank(QChar c) {
    return c == u' ' || c == u'\t';
}
bool Is_Digit(QChar c) {
    return c >= u'0' && c <= u'9';
}

qsizetype Skip_Blanks(QStringView s, qsizetype i) {
    while (i < s.size() && Is_Blank(s[i]))
        ++i;
    return i;
}

// Length of the number starting at `from`, 0 when there is none there.
qsizetype Number_Length(QStringView s, qsizetype from) {
    qsizetype i = from;
    if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) ++i;
    qsizetype digits = 0;
    while (i < s.size() && Is_Digit(s[i]))
        ++i, ++digits;
    if (i < s.size() && s[i] == u'.') {
        ++i;
        while (i < s.size() && Is_Digit(s[i]))
            ++i, ++digits;
    }
    if (digits == 0) return 0;
    // An exponent counts only when digits follow it: "1.5e" is 1.5.
    if (i < s.size() && (s[i] == u'e' || s[i] == u'E' || s[i] == u'd' || s[i] == u'D')) {
        qsizetype j = i + 1;
        if (j < s.size() && (s[j] == u'+' || s[j] == u'-')) ++j;
        if (j < s.size() && Is_Digit(s[j])) {
            while (j < s.size() && Is_Digit(s[j]))
                ++j;
            i = j;
        }
    }
    return i - from;
}

} // namespace

double Leading_Number(QStringView text) {
    const qsizetype from = Skip_Blanks(text, 0);
    const qsizetype len = Number_Length(text, from);
    if (len == 0) return 0;
    QString number = text.mid(from, len).toString();
    number.replace(u'd', u'e').replace(u'D', u'e');
    bool ok = false;
    const double v = number.toDouble(&ok);
    if (ok) return v;
    const double inf = std::numeric_limits<double>::infinity();
    return number.startsWith(u'-') ? -inf : inf;
}

bool Is_Number(QStringView text) {
    const qsizetype from = Skip_Blanks(text, 0);
    const qsizetype len = Number_Length(text, from);
    return len > 0 && Skip_Blanks(text, from + len) == text.size();
}

bool Round_To_Byte(double v, int* out) {
    if (!(v > -1.0 && v < 256.0)) return false; // also refuses NaN
    const double r = std::nearbyint(v);
    if (r < 0 || r > 255) return false;
    *out = static_cast<int>(r);
    return true;
}
