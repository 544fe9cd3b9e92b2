#include "app/numeric_text.h"

#include <QString>
#include <cmath>
#include <limits>

namespace {

bool is_blank(QChar c) {
    return c == u' ' || c == u'\t';
}
bool is_digit(QChar c) {
    return c >= u'0' && c <= u'9';
}

qsizetype skip_blanks(QStringView s, qsizetype i) {
    while (i < s.size() && is_blank(s[i]))
        ++i;
    return i;
}

// Length of the number starting at `from`, 0 when there is none there.
qsizetype number_length(QStringView s, qsizetype from) {
    qsizetype i = from;
    if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) ++i;
    qsizetype digits = 0;
    while (i < s.size() && is_digit(s[i]))
        ++i, ++digits;
    if (i < s.size() && s[i] == u'.') {
        ++i;
        while (i < s.size() && is_digit(s[i]))
            ++i, ++digits;
    }
    if (digits == 0) return 0;
    // An exponent counts only when digits follow it: "1.5e" is 1.5.
    if (i < s.size() && (s[i] == u'e' || s[i] == u'E' || s[i] == u'd' || s[i] == u'D')) {
        qsizetype j = i + 1;
        if (j < s.size() && (s[j] == u'+' || s[j] == u'-')) ++j;
        if (j < s.size() && is_digit(s[j])) {
            while (j < s.size() && is_digit(s[j]))
                ++j;
            i = j;
        }
    }
    return i - from;
}

} // namespace

double leading_number(QStringView text) {
    const qsizetype from = skip_blanks(text, 0);
    const qsizetype len = number_length(text, from);
    if (len == 0) return 0;
    QString number = text.mid(from, len).toString();
    number.replace(u'd', u'e').replace(u'D', u'e');
    bool ok = false;
    const double v = number.toDouble(&ok);
    if (ok) return v;
    const double inf = std::numeric_limits<double>::infinity();
    return number.startsWith(u'-') ? -inf : inf;
}

bool is_number(QStringView text) {
    const qsizetype from = skip_blanks(text, 0);
    const qsizetype len = number_length(text, from);
    return len > 0 && skip_blanks(text, from + len) == text.size();
}

bool round_to_byte(double v, int* out) {
    if (!(v > -1.0 && v < 256.0)) return false; // also refuses NaN
    const double r = std::nearbyint(v);
    if (r < 0 || r > 255) return false;
    *out = static_cast<int>(r);
    return true;
}
