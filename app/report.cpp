#include "app/report.h"

#include "model/detector_types.h"
#include "model/loop_record.h"
#include "model/planned_loop.h"
#include "model/tool.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

using namespace record;
using namespace column;

namespace {

QString time_text(const QDateTime& t) {
    return t.isValid() ? t.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) : QString();
}

// A cell a spreadsheet would run as a formula (one that starts with =, +, -, @, a tab or a
// carriage return) is written as text, behind the usual apostrophe; a cell that holds the
// separator, a quote or a line break of any kind is quoted, so that a row stays one row.
QString csv_field(const QString& s) {
    static const QString formula_start = QStringLiteral("=+-@\t\r");
    static const QRegularExpression needs_quotes(
        QStringLiteral("[;\"\\n\\r\\v\\f\\x{85}\\x{2028}\\x{2029}]"));
    QString cell = !s.isEmpty() && formula_start.contains(s.at(0)) ? QLatin1Char('\'') + s : s;
    if (!cell.contains(needs_quotes)) return cell;
    return QLatin1Char('"') + cell.replace(QLatin1Char('"'), QStringLiteral("\"\"")) +
           QLatin1Char('"');
}

QJsonObject tally_json(const Tally& t) {
    return {{"count", t.count}, {"first", time_text(t.first)}, {"last", time_text(t.last)}};
}

} // namespace

QStringList report_columns() {
    return {QStringLiteral("Adresse"),
            QStringLiteral("Type"),
            QStringLiteral("Code type"),
            QStringLiteral("Version PCB"),
            QStringLiteral("Version logiciel"),
            QString::fromUtf8("N° série"),
            QStringLiteral("Mode"),
            QStringLiteral("Lieu"),
            QString::fromUtf8("Type prévu"),
            QStringLiteral("Comparaison"),
            QStringLiteral("Lecture"),
            QStringLiteral("Heure de lecture"),
            QStringLiteral("Essai"),
            QStringLiteral("Alarmes"),
            QString::fromUtf8("Défauts du point"),
            QString::fromUtf8("Défauts com"),
            QStringLiteral("LED vue")};
}

Report_Rows report_rows(const Loop_Record& record, const Planned_Loop& plan) {
    Report_Rows rows;
    for (int a = Loop_Record::First; a <= Loop_Record::Last; ++a) {
        const Detector& d = record.at(a);
        const Planned_Loop::Entry* p = plan.at(a);
        if (!d.found && !p) continue;
        QStringList row(Column_Count);
        row[Address] = three_digits(a);
        if (d.found) {
            row[Type] = d.type_name;
            row[Code] = code_text(d.type_code);
            row[Pcb] = version_text(d.pcb_version);
            row[Soft] = version_text(d.soft_version);
            row[Serial] = d.serial;
            row[Mode] = mode_text(d.mode());
            row[Readout_Col] = readout_text(d.readout);
            row[Readout_Time] = time_text(d.readout_at);
            if (record.simulated())
                row[Walk_Test] =
                    d.tested ? QString::fromUtf8("testé") : QString::fromUtf8("non testé");
            row[Alarms] = QString::number(d.alarms.count);
            row[Point_Faults] = QString::number(d.point_faults.count);
            row[Com_Faults] = QString::number(d.com_faults.count);
            row[Led_Seen] = d.led_seen ? QStringLiteral("oui") : QString();
        }
        if (p) {
            row[Location] = p->location;
            row[Planned_Type] = p->type_text;
        }
        row[Comparison] = match_text(compare(plan, record, a));
        rows << row;
    }
    return rows;
}

QString report_totals(const Loop_Record& record, const Planned_Loop& plan) {
    const QList<int> found = record.found();
    int tested = 0;
    for (int a : found)
        tested += record.at(a).tested;
    const Readout_Counts r = record.readout_counts();
    QString text = QString::fromUtf8("Détecteurs trouvés : %1. Lectures : %2, %3, %4 sans "
                                     "réponse, %5.")
                       .arg(found.size())
                       .arg(count_text(r.complete, "complète"), count_text(r.partial, "partielle"))
                       .arg(r.failed)
                       .arg(count_text(r.unread, "non lu"));
    if (!plan.empty()) text += QLatin1Char(' ') + comparison_text(plan, record);
    if (record.simulated())
        text += QString::fromUtf8(" Essai : %1 testés sur %2.").arg(tested).arg(found.size());
    const QList<Silence>& silences = record.silences();
    if (!silences.isEmpty()) {
        QStringList each;
        for (const Silence& s : silences.mid(std::max<qsizetype>(0, silences.size() - 5)))
            each << QString::fromUtf8("le %1 pendant %2")
                        .arg(s.from.toString(QStringLiteral("dd/MM à HH:mm:ss")),
                             s.to.isValid() ? seconds_text(s.seconds())
                                            : QString::fromUtf8("une durée non mesurée"));
        text += QString::fromUtf8(" Carte d'interface sans réponse %1 fois (%2%3) : ces "
                                  "moments ne comptent pas comme défauts des détecteurs.")
                    .arg(silences.size())
                    .arg(silences.size() > 5 ? QString::fromUtf8("les 5 dernières : ") : QString(),
                         each.join(QStringLiteral(", ")));
    }
    return text;
}

QByteArray report_csv(const Report_Rows& rows) {
    QStringList lines{report_columns().join(QLatin1Char(';'))};
    for (const QStringList& row : rows) {
        QStringList cells;
        for (const QString& cell : row)
            cells << csv_field(cell);
        lines << cells.join(QLatin1Char(';'));
    }
    return "\xEF\xBB\xBF" + lines.join(QStringLiteral("\r\n")).toUtf8() + "\r\n";
}

QJsonArray report_detectors(const Loop_Record& record, const Planned_Loop& plan) {
    QJsonArray detectors;
    for (int a = Loop_Record::First; a <= Loop_Record::Last; ++a) {
        const Detector& d = record.at(a);
        const Planned_Loop::Entry* p = plan.at(a);
        if (!d.found && !p && d.alarms.count + d.point_faults.count + d.com_faults.count == 0)
            continue;
        QJsonObject params;
        for (const auto& [code, value] : d.params)
            params.insert(QString::number(code), value);
        QJsonObject o{{"address", a},
                      {"found", d.found},
                      {"found_at", time_text(d.found_at)},
                      {"type_code", d.type_code},
                      {"type", d.type_name},
                      {"pcb_version", version_text(d.pcb_version)},
                      {"soft_version", version_text(d.soft_version)},
                      {"serial", d.serial},
                      {"params", params},
                      {"mode", d.mode()},
                      {"readout", readout_text(d.readout)},
                      {"readout_at", time_text(d.readout_at)},
                      {"point", point_text(d.point)},
                      {"alarms", tally_json(d.alarms)},
                      {"point_faults", tally_json(d.point_faults)},
                      {"com_faults", tally_json(d.com_faults)},
                      {"tested", d.tested},
                      {"led_on", d.led_on},
                      {"led_seen", d.led_seen},
                      {"comparison", match_text(compare(plan, record, a))}};
        if (p) o.insert("planned", QJsonObject{{"type", p->type_text}, {"location", p->location}});
        detectors.append(o);
    }
    return detectors;
}

QByteArray report_json(const Report_Header& header, const Loop_Record& record,
                       const Planned_Loop& plan) {
    QJsonArray events;
    for (const Event& e : record.events())
        events.append(
            QJsonObject{{"at", time_text(e.at)}, {"address", e.address}, {"text", e.text}});
    QJsonArray silences;
    for (const Silence& s : record.silences())
        silences.append(
            QJsonObject{{"from", time_text(s.from)},
                        {"to", time_text(s.to)},
                        {"seconds", s.to.isValid() ? QJsonValue(s.seconds()) : QJsonValue()},
                        {"port_lost", s.port_lost}});
    QJsonArray mode_writes;
    for (const Mode_Write& w : record.mode_writes())
        mode_writes.append(QJsonObject{{"at", time_text(w.at)},
                                       {"address", w.address},
                                       {"before", w.before},
                                       {"after", w.after},
                                       {"written", w.written},
                                       {"accepted", w.accepted}});
    QJsonObject doc{{"site", header.site},
                    {"loop", header.loop},
                    {"engineer", header.engineer},
                    {"date", time_text(header.when)},
                    {"interface_version", header.interface_version},
                    {"port", header.port},
                    {"simulated", record.simulated()},
                    {"searched_to", record.searched_to()},
                    {"detectors", report_detectors(record, plan)},
                    {"board_silences", silences},
                    {"mode_writes", mode_writes},
                    {"events", events}};
    if (!header.changes_title.isEmpty())
        doc.insert("changes", QJsonObject{{"title", header.changes_title},
                                          {"lines", QJsonArray::fromStringList(header.changes)}});
    return QJsonDocument(doc).toJson(QJsonDocument::Indented);
}
