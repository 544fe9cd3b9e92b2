#include "app/visits.h"

#include "app/plan.h"
#include "app/report.h"
#include "link/regular_file.h"
#include "model/detector_types.h"
#include "model/tool.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

const QString Title = QStringLiteral("VISITES");
// A report of 128 detectors and a long journal stays far below this.
constexpr qint64 Max_Report_Bytes = 64 << 20;

QString date_text(const QDateTime& when) {
    return when.toString(QStringLiteral("dd/MM/yyyy"));
}

// "3.1" back to the byte it was read as; -1 when empty or malformed.
int version_byte(const QString& text) {
    const QStringList parts = text.split(QLatin1Char('.'));
    bool ok_high = false, ok_low = false;
    const int high = parts.value(0).toInt(&ok_high), low = parts.value(1).toInt(&ok_low);
    if (parts.size() != 2 || !ok_high || !ok_low || high < 0 || high > 15 || low < 0 || low > 15)
        return -1;
    return high << 4 | low;
}

// The report's detectors, each with an address of the loop; false when it is not our report.
bool report_detectors_of(const QByteArray& content, QJsonObject* doc, QList<QJsonObject>* out,
                         QString* why) {
    QJsonParseError error{};
    const QJsonDocument d = QJsonDocument::fromJson(content, &error);
    if (error.error != QJsonParseError::NoError || !d.isObject() ||
        !d.object().value(QLatin1String("detectors")).isArray()) {
        *why = QString::fromUtf8("ce n'est pas un rapport JSON de l'outil.");
        return false;
    }
    *doc = d.object();
    for (const QJsonValue& v : doc->value(QLatin1String("detectors")).toArray()) {
        const QJsonObject o = v.toObject();
        const int address = o.value(QLatin1String("address")).toInt(0);
        if (address < Loop_Record::First || address > Loop_Record::Last) {
            *why = QString::fromUtf8("une adresse du rapport n'est pas de 1 à 128.");
            return false;
        }
        out->append(o);
    }
    return true;
}

void show_marks_menu(Tool& t) {
    t.form.Visit_Marks_Mnu.set_value(t.visit_marks && t.earlier.known() ? 1 : 2);
    show_cell_marks(t, 0);
}

} // namespace

QList<Visit_Difference> all_visit_differences(const Visit_Detectors& before,
                                              const Visit_Detectors& now, int searched_to) {
    QList<Visit_Difference> out;
    for (int a = Loop_Record::First; a <= Loop_Record::Last; ++a) {
        const record::Detector& b = before[size_t(a - 1)];
        const record::Detector& n = now[size_t(a - 1)];
        const Visit_Change c = compare_visit_detector(b, n, a, searched_to);
        if (c == Visit_Change::None || c == Visit_Change::Same) continue;
        QStringList detail{visit_change_detail(b, n), moved_from(before, n, a)};
        detail.removeAll(QString());
        out.append({a, c, b.found ? b.type_name : QString(), n.found ? n.type_name : QString(),
                    detail.join(QStringLiteral(", "))});
    }
    return out;
}

QList<Visit_Difference> visit_differences(const Earlier_Visit& earlier, const Loop_Record& record) {
    Visit_Detectors now;
    for (int a = Loop_Record::First; a <= Loop_Record::Last; ++a)
        now[size_t(a - 1)] = record.at(a);
    QList<Visit_Difference> out =
        all_visit_differences(earlier.detectors, now, record.searched_to());
    out.removeIf([](const Visit_Difference& d) { return d.change == Visit_Change::Found_Again; });
    return out;
}

void add_visit_changes(Report_Header& header, const Earlier_Visit& earlier,
                       const Loop_Record& record) {
    if (!earlier.known()) return;
    header.changes_title =
        QString::fromUtf8("Changements depuis la visite du %1").arg(date_text(earlier.when));
    header.changes.clear();
    for (const Visit_Difference& d : visit_differences(earlier, record)) {
        QString line =
            QStringLiteral("%1 %2 : %3")
                .arg(three_digits(d.address), d.now_type.isEmpty() ? d.before_type : d.now_type,
                     visit_change_text(d.change));
        if (!d.detail.isEmpty()) line += QStringLiteral(" (%1)").arg(d.detail);
        header.changes << line;
    }
    if (header.changes.isEmpty()) header.changes << QString::fromUtf8("Aucun changement.");
}

bool read_report_visit(const QByteArray& content, Earlier_Visit* visit, QString* why) {
    QJsonObject doc;
    QList<QJsonObject> detectors;
    if (!report_detectors_of(content, &doc, &detectors, why)) return false;
    Earlier_Visit read;
    read.when = QDateTime::fromString(doc.value(QLatin1String("date")).toString(),
                                      QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    if (!read.when.isValid()) {
        *why = QString::fromUtf8("le rapport ne donne pas sa date.");
        return false;
    }
    read.searched_to =
        std::clamp(doc.value(QLatin1String("searched_to")).toInt(0), 0, int(Loop_Record::Last));
    for (const QJsonObject& o : detectors) {
        record::Detector& d = read.detectors[size_t(o.value(QLatin1String("address")).toInt() - 1)];
        d.found = o.value(QLatin1String("found")).toBool();
        const int code = o.value(QLatin1String("type_code")).toInt(-1);
        d.type_code = code >= 0 && code <= 255 ? code : -1;
        d.type_name = o.value(QLatin1String("type")).toString();
        d.pcb_version = version_byte(o.value(QLatin1String("pcb_version")).toString());
        d.soft_version = version_byte(o.value(QLatin1String("soft_version")).toString());
        d.serial = o.value(QLatin1String("serial")).toString();
        const QJsonObject params = o.value(QLatin1String("params")).toObject();
        for (auto it = params.begin(); it != params.end(); ++it) {
            bool ok = false;
            const int p = it.key().toInt(&ok), value = it.value().toInt(-1);
            if (ok && p >= 0 && p <= 255 && value >= 0 && value <= 255)
                d.params[uint8_t(p)] = uint8_t(value);
        }
        const QString readout = o.value(QLatin1String("readout")).toString();
        for (const record::Readout r :
             {record::Readout::Complete, record::Readout::Partial, record::Readout::Failed})
            if (readout == record::readout_text(r)) d.readout = r;
    }
    *visit = std::move(read);
    return true;
}

bool read_report_plan(const QByteArray& content, std::map<int, Planned_Loop::Entry>* entries,
                      QString* why) {
    QJsonObject doc;
    QList<QJsonObject> detectors;
    if (!report_detectors_of(content, &doc, &detectors, why)) return false;
    std::map<int, Planned_Loop::Entry> read;
    for (const QJsonObject& o : detectors) {
        const QJsonObject planned = o.value(QLatin1String("planned")).toObject();
        QString type;
        // The type found, by its grid name, or by its code when the tool has no name for it.
        if (o.value(QLatin1String("found")).toBool()) {
            type = o.value(QLatin1String("type")).toString();
            const int code = o.value(QLatin1String("type_code")).toInt(-1);
            if (type_index_of(type) <= 0 && code >= 0 && code <= 255)
                type = record::code_text(code);
        }
        if (type_index_of(type) < 0 || (type_index_of(type) == 0 && type_code_of(type) < 0))
            type = planned.value(QLatin1String("type")).toString();
        const int index = type_index_of(type), code = type_code_of(type);
        if (index < 0 || (index == 0 && code < 0)) continue; // neither found nor planned
        read[o.value(QLatin1String("address")).toInt()] = {
            index, code, type, planned.value(QLatin1String("location")).toString()};
    }
    if (read.empty()) {
        *why = QString::fromUtf8("le rapport ne donne aucun détecteur.");
        return false;
    }
    *entries = std::move(read);
    return true;
}

void set_earlier_visit(Tool& t, const Earlier_Visit& earlier) {
    t.earlier = earlier;
    if (!earlier.known()) t.visit_marks = false;
    show_marks_menu(t);
}

void Visit_Compare_Mnu_Click(Tool& t) {
    if (!t.dialogs) return;
    if (!t.earlier.known()) {
        t.dialogs->msg_box(QString::fromUtf8("Aucune visite précédente : ouvrez le site de cette "
                                             "boucle, ou comparez avec un rapport JSON."),
                           Msg_Information, Title);
        return;
    }
    const QList<Visit_Difference> differences = visit_differences(t.earlier, t.record);
    QList<QStringList> rows;
    for (const Visit_Difference& d : differences)
        rows << QStringList{three_digits(d.address), d.before_type, d.now_type,
                            visit_change_text(d.change), d.detail};
    QString text =
        QString::fromUtf8("Visite du %1 (%2) : ")
            .arg(t.earlier.when.toString(QStringLiteral("dd/MM/yyyy HH:mm")), t.earlier.from);
    text += differences.isEmpty() ? QString::fromUtf8("aucun changement.")
                                  : record::count_text(int(differences.size()), "changement");
    if (t.record.searched_to() == 0)
        text += QString::fromUtf8(" Aucune recherche terminée : rien ne peut être dit manquant.");
    t.dialogs->show_table(QString::fromUtf8("Comparaison avec la visite précédente"), text,
                          {QStringLiteral("Adresse"), QStringLiteral("Avant"),
                           QStringLiteral("Maintenant"), QStringLiteral("Changement"),
                           QString::fromUtf8("Détail")},
                          rows);
}

bool read_report_visit_file(const QString& path, Earlier_Visit* visit, QString* why) {
    QByteArray content;
    if (read_regular_file(path, Max_Report_Bytes, &content) != Read_Result::Done) {
        *why = QString::fromUtf8("le fichier ne peut pas être lu.");
        return false;
    }
    return read_report_visit(content, visit, why);
}

void Report_Visit_Mnu_Click(Tool& t) {
    if (!t.dialogs) return;
    const QString path = t.dialogs->open_file(QStringLiteral("Rapport JSON d'une visite"),
                                              QStringLiteral("Rapports JSON (*.json);;Tous (*)"));
    if (path.isEmpty() || t.state.Quit_Flag) return;
    QString why;
    Earlier_Visit earlier;
    if (!read_report_visit_file(path, &earlier, &why)) {
        t.dialogs->msg_box(
            QString::fromUtf8("%1 n'est pas pris :\n%2").arg(QFileInfo(path).fileName(), why),
            Msg_Exclamation, Title);
        return;
    }
    earlier.from = QFileInfo(path).fileName();
    t.visit_marks = true;
    set_earlier_visit(t, earlier);
    t.record.note(QString::fromUtf8("Visite précédente : rapport %1 du %2")
                      .arg(earlier.from, date_text(earlier.when)));
    Visit_Compare_Mnu_Click(t);
}

void Visit_Marks_Mnu_Click(Tool& t) {
    if (!t.earlier.known()) {
        show_marks_menu(t);
        if (t.dialogs)
            t.dialogs->msg_box(QString::fromUtf8("Aucune visite précédente : les repères suivent "
                                                 "la liste prévue."),
                               Msg_Information, Title);
        return;
    }
    t.visit_marks = !t.visit_marks;
    show_marks_menu(t);
}
