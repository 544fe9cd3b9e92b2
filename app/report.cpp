#include "app/report.h"

#include "model/detector_types.h"
#include "model/loop_record.h"
#include "model/planned_loop.h"
#include "model/tool.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

using namespace record;
using namespace column;

namespace {

QString time_text(const QDateTime& t) {
    return t.isValid() ? t.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) : QString();
}

QString csv_field(const QString& s) {
    if (!s.contains(QLatin1Char(';')) && !s.contains(QLatin1Char('"')) &&
        !s.contains(QLatin1Char('\n')))
        return s;
    return QLatin1Char('"') + QString(s).replace(QLatin1Char('"'), QStringLiteral("\"\"")) +
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
        row[Address] = Three_Digits(a);
        if (d.found) {
            row[Type] = d.type_name;
            if (d.type_code >= 0)
                row[Code] =
                    QStringLiteral("0x") +
                    QStringLiteral("%1").arg(d.type_code, 2, 16, QLatin1Char('0')).toUpper();
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
    std::map<Match, int> match;
    int complete = 0, failed = 0, tested = 0;
    const QList<int> found = record.found();
    for (int a = Loop_Record::First; a <= Loop_Record::Last; ++a) {
        ++match[compare(plan, record, a)];
        const Detector& d = record.at(a);
        if (!d.found) continue;
        complete += d.readout == Readout::Complete;
        failed += d.readout == Readout::Failed;
        tested += d.tested;
    }
    QString text = QString::fromUtf8("Détecteurs trouvés : %1. Lectures complètes : %2, sans "
                                     "réponse : %3.")
                       .arg(found.size())
                       .arg(complete)
                       .arg(failed);
    if (!plan.empty())
        text += QString::fromUtf8(" Prévus : %1 ; conformes : %2, manquants : %3, non prévus : "
                                  "%4, de type différent : %5.")
                    .arg(plan.entries().size())
                    .arg(match[Match::Ok])
                    .arg(match[Match::Missing])
                    .arg(match[Match::Unexpected])
                    .arg(match[Match::Wrong_Type]);
    if (record.simulated())
        text += QString::fromUtf8(" Essai : %1 testés sur %2.").arg(tested).arg(found.size());
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
    const QJsonObject doc{{"site", header.site},
                          {"loop", header.loop},
                          {"engineer", header.engineer},
                          {"date", time_text(header.when)},
                          {"interface_version", header.interface_version},
                          {"port", header.port},
                          {"simulated", record.simulated()},
                          {"detectors", report_detectors(record, plan)},
                          {"events", events}};
    return QJsonDocument(doc).toJson(QJsonDocument::Indented);
}

QString interface_version(const Tool& t) {
    const Control& label = t.form.Version_Lbl;
    return label.Visible()
               ? QString(label.Caption()).remove(QStringLiteral("(Ver.")).remove(QLatin1Char(')'))
               : QString::fromUtf8("non lue");
}
