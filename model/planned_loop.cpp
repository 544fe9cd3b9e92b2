#include "model/planned_loop.h"

#include "model/detector_types.h"
#include "model/loop_record.h"

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

QString quoted(const QString& s) {
    return QString::fromUtf8("« %1 »").arg(s.left(40));
}

} // namespace

bool Planned_Loop::read(const QByteArray& content, QString* error) {
    const auto fail = [error](int line, const QString& why) {
        *error = line > 0 ? QStringLiteral("Ligne %1 : %2").arg(line).arg(why) : why;
        return false;
    };
    if (content.size() > Max_Bytes)
        return fail(0, QString::fromUtf8("le fichier dépasse %1 Mo : ce n'est pas une liste "
                                         "de détecteurs.")
                           .arg(Max_Bytes >> 20));
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8(content);
    if (utf8.hasError() || content.contains('\0'))
        return fail(0, QString::fromUtf8("ce n'est pas un fichier texte en UTF-8."));

    std::map<int, Entry> entries;
    std::map<int, int> line_of;
    QChar sep;
    bool first = true;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (int n = 1; n <= lines.size(); ++n) {
        QString line = lines.at(n - 1);
        if (n == 1 && line.startsWith(QChar(0xFEFF))) line.remove(0, 1);
        if (line.endsWith(QLatin1Char('\r'))) line.chop(1);
        if (line.trimmed().isEmpty()) continue;
        if (sep.isNull())
            sep = line.contains(QLatin1Char(';')) ? QLatin1Char(';') : QLatin1Char(',');
        QStringList f;
        if (!split(line, sep, &f)) return fail(n, QStringLiteral("guillemet non fermé."));
        // Spreadsheets write every row as wide as the widest: empty columns past the second go.
        while (f.size() > 2 && f.last().isEmpty())
            f.removeLast();
        bool number = false;
        const int address = f.value(0).toInt(&number);
        if (std::exchange(first, false) && !number) continue; // the header
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
    if (!d.found) return Match::Missing;
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
