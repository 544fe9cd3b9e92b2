#include "model/planned_loop.h"

#include "model/detector_types.h"
#include "model/loop_record.h"

#include <QRegularExpression>
#include <QStringDecoder>
#include <QStringList>

namespace {

// One line's fields; a field in double quotes may hold the separator, and "" stands for ".
// False when a quote is left open.
bool split(const QString& line, QChar sep, QStringList* fields) {
    fields->clear();
    QString field;
    bool quoted = false, was_quoted = false;
    for (int i = 0; i < line.size(); ++i) {
        const QChar c = line.at(i);
        if (quoted) {
            if (c != QLatin1Char('"'))
                field += c;
            else if (i + 1 < line.size() && line.at(i + 1) == QLatin1Char('"'))
                field += line.at(++i);
            else
                quoted = false;
        } else if (c == QLatin1Char('"') && field.trimmed().isEmpty()) {
            quoted = was_quoted = true;
            field.clear();
        } else if (c == sep) {
            *fields << (was_quoted ? field : field.trimmed());
            field.clear();
            was_quoted = false;
        } else {
            field += c;
        }
    }
    *fields << (was_quoted ? field : field.trimmed());
    return !quoted;
}

// A field as a message shows it: what cannot be seen (a control character, a zero-width or
// non-breaking space) is written out.
QString quoted(const QString& s) {
    QString shown;
    for (const QChar c : s.left(40)) {
        if (c == QLatin1Char('\t'))
            shown += QStringLiteral("\\t");
        else if (c == QLatin1Char('\r'))
            shown += QStringLiteral("\\r");
        else if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format ||
                 (c.isSpace() && c != QLatin1Char(' ')))
            shown += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        else
            shown += c;
    }
    return QString::fromUtf8("« %1 »").arg(shown);
}

// What French spreadsheet software writes by default in "CSV (point-virgule)": Windows-1252,
// which is Latin-1 but for 0x80 to 0x9F.
QString from_windows_1252(const QByteArray& bytes) {
    static const char16_t High[32] = {
        0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
    QString text(bytes.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const uchar b = uchar(bytes.at(i));
        text[i] = b >= 0x80 && b < 0xA0 ? QChar(High[b - 0x80]) : QChar(b);
    }
    return text;
}

// Where a report's CSV keeps what a plan needs; all -1 for a plain list.
struct Report_Columns {
    int address = -1, type = -1, code = -1, location = -1, planned = -1;
};

Report_Columns report_columns(const QStringList& header) {
    Report_Columns c;
    const auto at = [&header](const char* name) {
        return int(header.indexOf(QString::fromUtf8(name)));
    };
    if (header.size() <= 3 || at("Adresse") != 0 || at("Lieu") < 0 || at("Type prévu") < 0 ||
        at("Code type") < 0 || at("Type") < 0)
        return c;
    return {0, at("Type"), at("Code type"), at("Lieu"), at("Type prévu")};
}

} // namespace

void Planned_Loop::assign(const std::map<int, Entry>& entries) {
    entries_.clear();
    windows_1252_ = false;
    for (const auto& [address, e] : entries) {
        const int index = type_index_of(e.type_text), code = type_code_of(e.type_text);
        if (address < 1 || address > 128 || index < 0 || (index == 0 && code < 0)) continue;
        entries_[address] = {index, code, e.type_text, e.location};
    }
}

bool Planned_Loop::read(const QByteArray& content, QString* error) {
    const auto fail = [error](int line, const QString& why) {
        *error = line > 0 ? QStringLiteral("Ligne %1 : %2").arg(line).arg(why) : why;
        return false;
    };
    if (content.size() > Max_Bytes)
        return fail(0, QString::fromUtf8("le fichier dépasse %1 Mo : ce n'est pas une liste "
                                         "de détecteurs.")
                           .arg(Max_Bytes >> 20));
    if (content.contains('\0')) return fail(0, QString::fromUtf8("ce n'est pas un fichier texte."));
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8(content);
    const bool windows_1252 = utf8.hasError();
    if (windows_1252) text = from_windows_1252(content);

    std::map<int, Entry> entries;
    std::map<int, int> line_of;
    Report_Columns report;
    QChar sep;
    bool first = true;
    // Lines end with CRLF, LF or a lone CR (older office software).
    static const QRegularExpression line_end(QStringLiteral("\r\n|\n|\r"));
    const QStringList lines = text.split(line_end);
    for (int n = 1; n <= lines.size(); ++n) {
        QString line = lines.at(n - 1);
        if (n == 1 && line.startsWith(QChar(0xFEFF))) line.remove(0, 1);
        if (line.trimmed().isEmpty()) continue;
        if (sep.isNull())
            sep = line.contains(QLatin1Char(';')) ? QLatin1Char(';') : QLatin1Char(',');
        QStringList f;
        if (!split(line, sep, &f)) return fail(n, QStringLiteral("guillemet non fermé."));
        // Spreadsheets write every row as wide as the widest: empty columns past the second go,
        // and a row of separators only is a blank line.
        while (f.size() > 2 && f.last().isEmpty())
            f.removeLast();
        if (f.join(QString()).trimmed().isEmpty()) continue;
        bool number = false;
        const int address = f.value(0).toInt(&number);
        // Only a first line whose address holds no digit is a header: "0x07" or "7.0" are
        // addresses written wrong, and are told so.
        static const QRegularExpression digit(QStringLiteral("\\d"));
        if (std::exchange(first, false) && !f.value(0).contains(digit)) {
            report = report_columns(f);
            continue;
        }
        if (report.address >= 0) {
            const QString found =
                f.value(report.code).isEmpty() || type_index_of(f.value(report.type)) > 0
                    ? f.value(report.type)
                    : f.value(report.code);
            const QString type = found.isEmpty() ? f.value(report.planned) : found;
            f = QStringList{f.value(report.address), type, f.value(report.location)};
        }
        if (f.size() < 2 || f.size() > 3)
            return fail(n, QStringLiteral("%1 colonnes au lieu de 2 ou 3 (adresse%2type%2lieu).")
                               .arg(f.size())
                               .arg(sep));
        if (!number || address < 1 || address > 128)
            return fail(n, QStringLiteral("adresse %1 : un nombre de 1 à 128 est attendu.")
                               .arg(quoted(f.at(0))));
        const int index = type_index_of(f.at(1));
        const int code = type_code_of(f.at(1));
        if (index < 0 || (index == 0 && code < 0))
            return fail(n, QStringLiteral("type %1 inconnu (KOR, ZEPHA, DLX508B, MURO-S, KTRW "
                                          "ou un code de type comme 0x1A).")
                               .arg(quoted(f.at(1))));
        if (line_of.count(address))
            return fail(n, QString::fromUtf8("l'adresse %1 est déjà donnée ligne %2.")
                               .arg(address)
                               .arg(line_of.at(address)));
        line_of[address] = n;
        entries[address] = {index, code, f.at(1), f.value(2)};
    }
    if (entries.empty()) return fail(0, QString::fromUtf8("le fichier ne donne aucun détecteur."));
    entries_ = std::move(entries);
    windows_1252_ = windows_1252;
    return true;
}

const Planned_Loop::Entry* Planned_Loop::at(int address) const {
    const auto it = entries_.find(address);
    return it == entries_.end() ? nullptr : &it->second;
}

Match compare(const Planned_Loop& plan, const Loop_Record& record, int address) {
    const Planned_Loop::Entry* planned = plan.at(address);
    const record::Detector& d = record.at(address);
    if (plan.empty() || (!planned && !d.found)) return Match::None;
    if (!planned) return Match::Unexpected;
    // Missing only where a search that ended has looked.
    if (!d.found) return address <= record.searched_to() ? Match::Missing : Match::None;
    // A found detector whose type is not read yet is not held against the plan.
    if (d.type_code < 0) return Match::Ok;
    // Two codes the tool has no name for are the same type only when they are the same code.
    const int found_index = type_index(uint8_t(d.type_code));
    if (found_index == planned->type_index && (found_index != 0 || d.type_code == planned->code))
        return Match::Ok;
    return Match::Wrong_Type;
}

QString match_text(Match m) {
    switch (m) {
    case Match::Ok:
        return QStringLiteral("conforme");
    case Match::Missing:
        return QStringLiteral("manquant");
    case Match::Unexpected:
        return QStringLiteral("non prévu");
    case Match::Wrong_Type:
        return QString::fromUtf8("type différent");
    case Match::None:
        break;
    }
    return QString();
}

QString comparison_text(const Planned_Loop& plan, const Loop_Record& record) {
    const QString planned = QString::fromUtf8("Prévus : %1").arg(plan.entries().size());
    if (record.searched_to() == 0)
        return planned + QString::fromUtf8(". Aucune recherche terminée : la comparaison attend "
                                           "la fin d'une recherche (F5).");
    std::map<Match, int> count;
    for (int a = Loop_Record::First; a <= Loop_Record::Last; ++a)
        ++count[compare(plan, record, a)];
    QString text = planned + QString::fromUtf8(", trouvés : %1. Conformes : %2, manquants : %3, "
                                               "non prévus : %4, de type différent : %5.")
                                 .arg(record.found().size())
                                 .arg(count[Match::Ok])
                                 .arg(count[Match::Missing])
                                 .arg(count[Match::Unexpected])
                                 .arg(count[Match::Wrong_Type]);
    if (record.searched_to() < Loop_Record::Last)
        text += QString::fromUtf8(" La recherche s'est arrêtée avant l'adresse %1 : les "
                                  "suivantes ne sont pas comparées.")
                    .arg(record.searched_to() + 1);
    return text;
}
