#include "app/plan.h"

#include "app/site_recorder.h"
#include "app/visits.h"
#include "link/regular_file.h"
#include "model/detector_types.h"
#include "model/tool.h"

#include <QFileInfo>
#include <algorithm>

namespace {

// The mark in the cell's top right corner: a shape of its own for each outcome, so that it reads
// without telling colours apart, filled in a colour that none of the grid's own states uses, and
// outlined in black inside a white ring, one of which stands out on each of them.
int mark_shape(Match m) {
    switch (m) {
    case Match::Ok:
        return Control::Circle;
    case Match::Wrong_Type:
        return Control::Diamond;
    case Match::Missing:
        return Control::Cross;
    case Match::Unexpected:
        return Control::Triangle;
    case Match::None:
        break;
    }
    return Control::Square;
}

Bgr_Colour mark_colour(Match m) {
    switch (m) {
    case Match::Ok:
        return RGB(0, 128, 0);
    case Match::Missing:
        return RGB(0, 0, 0);
    case Match::Unexpected:
        return RGB(255, 0, 255);
    case Match::Wrong_Type:
        return RGB(0, 255, 255);
    case Match::None:
        break;
    }
    return RGB(255, 255, 255);
}

// The visit marks share the plan marks' language: a circle for the same detector, a diamond for
// one that differs, a cross for one gone, a triangle for one come.
int visit_mark_shape(Visit_Change c) {
    switch (c) {
    case Visit_Change::Same:
    case Visit_Change::Found_Again:
        return Control::Circle;
    case Visit_Change::Replaced:
    case Visit_Change::Type_Changed:
        return Control::Diamond;
    case Visit_Change::Missing:
        return Control::Cross;
    case Visit_Change::New:
        return Control::Triangle;
    case Visit_Change::Settings:
    case Visit_Change::None:
        break;
    }
    return Control::Square;
}

Bgr_Colour visit_mark_colour(Visit_Change c) {
    switch (c) {
    case Visit_Change::Same:
        return RGB(0, 128, 0);
    case Visit_Change::Found_Again:
        return RGB(128, 128, 0);
    case Visit_Change::Replaced:
        return RGB(255, 128, 0);
    case Visit_Change::Type_Changed:
        return RGB(0, 255, 255);
    case Visit_Change::Settings:
        return RGB(255, 255, 0);
    case Visit_Change::Missing:
        return RGB(0, 0, 0);
    case Visit_Change::New:
        return RGB(255, 0, 255);
    case Visit_Change::None:
        break;
    }
    return RGB(255, 255, 255);
}

QString read_error(Read_Result r) {
    switch (r) {
    case Read_Result::Missing:
        return QString::fromUtf8("le fichier n'existe pas.");
    case Read_Result::Not_A_File:
        return QString::fromUtf8("ce n'est pas un fichier ordinaire.");
    case Read_Result::Too_Large:
        return QString::fromUtf8("le fichier dépasse 1 Mo : ce n'est pas une liste de détecteurs.");
    case Read_Result::Unreadable:
    case Read_Result::Done:
        break;
    }
    return QString::fromUtf8("le fichier ne peut pas être lu (droits d'accès ?).");
}

QString found_type(const record::Detector& d) {
    return d.found ? (d.type_name.isEmpty() ? QStringLiteral("?") : d.type_name) : QString();
}

// The tip of a cell: the type code read when the tool has no name for it, the planned type and
// location, the comparisons; empty when there is nothing to say.
QString cell_tip(const Loop_Record& record, const Planned_Loop& plan, const Earlier_Visit* visit,
                 int address) {
    QStringList lines;
    // The cell shows "???" as an empty one does: the tip tells a detector the tool has no name
    // for from no detector at all.
    const record::Detector& d = record.at(address);
    if (d.found && d.type_code >= 0 && type_index(uint8_t(d.type_code)) == 0)
        lines << QStringLiteral("Code type lu : %1, type sans nom")
                     .arg(record::code_text(d.type_code));
    QString planned;
    if (const Planned_Loop::Entry* p = plan.at(address)) {
        planned = QString::fromUtf8("Prévu : %1").arg(p->type_text);
        if (!p->location.isEmpty()) planned += QStringLiteral(" (%1)").arg(p->location);
    }
    const Match m = compare(plan, record, address);
    if (m != Match::None)
        planned += (planned.isEmpty() ? QString() : QStringLiteral(" — ")) + match_text(m);
    if (!planned.isEmpty()) lines << planned;
    if (d.earlier)
        lines << QString::fromUtf8("Trouvé lors de la session reprise : à confirmer par une "
                                   "recherche");
    if (visit) {
        const record::Detector& before = visit->detectors[size_t(address - 1)];
        const Visit_Change c = compare_visit_detector(before, d, address, record.searched_to());
        if (c != Visit_Change::None) {
            QString line =
                QString::fromUtf8("Depuis le %1 : %2")
                    .arg(visit->when.toString(QStringLiteral("dd/MM/yyyy")), visit_change_text(c));
            const QString detail = visit_change_detail(before, d);
            if (!detail.isEmpty()) line += QStringLiteral(" (%1)").arg(detail);
            lines << line;
        }
    }
    return lines.join(QLatin1Char('\n'));
}

} // namespace

void show_cell_marks(Bus_Form& f, const Loop_Record& record, const Planned_Loop& plan,
                     const Earlier_Visit* visit, int address) {
    const int first = address ? std::max(address, 1) : 1;
    const int last = address ? std::min(address, 128) : 128;
    for (int a = first; a <= last; ++a) {
        int shape = 0;
        Bgr_Colour colour = 0;
        bool shown = false;
        if (visit) {
            const Visit_Change c = compare_visit_detector(visit->detectors[size_t(a - 1)],
                                                          record.at(a), a, record.searched_to());
            shape = visit_mark_shape(c);
            colour = visit_mark_colour(c);
            shown = c != Visit_Change::None;
        } else {
            const Match m = compare(plan, record, a);
            shape = mark_shape(m);
            colour = mark_colour(m);
            shown = m != Match::None;
        }
        Control& mark = f.Plan_Mark(a);
        if (mark.Shape() != shape) mark.set_shape(shape);
        mark.set_back_color(colour);
        mark.set_visible(shown);
        f.Adr_Box(a).set_tool_tip_text(cell_tip(record, plan, visit, a));
    }
}

void show_cell_marks(Tool& t, int address) {
    show_cell_marks(t.form, t.record, t.planned,
                    t.visit_marks && t.earlier.known() ? &t.earlier : nullptr, address);
}

void Compare_Mnu_Click(Tool& t) {
    if (!t.dialogs) return;
    if (t.planned.empty()) {
        t.dialogs->msg_box(QString::fromUtf8("Aucune liste prévue : importez-la d'abord."),
                           Msg_Information, QStringLiteral("COMPARAISON"));
        return;
    }
    QList<QStringList> rows;
    for (int a = 1; a <= 128; ++a) {
        const Match m = compare(t.planned, t.record, a);
        if (m == Match::None || m == Match::Ok) continue;
        const Planned_Loop::Entry* p = t.planned.at(a);
        rows << QStringList{three_digits(a), p ? p->type_text : QString(),
                            p ? p->location : QString(), found_type(t.record.at(a)), match_text(m)};
    }
    QString text = comparison_text(t.planned, t.record);
    if (t.planned.windows_1252())
        text += QString::fromUtf8(" Le fichier n'est pas en UTF-8 : il a été lu en Windows-1252.");
    t.dialogs->show_table(QString::fromUtf8("Comparaison avec la liste prévue"), text,
                          {QStringLiteral("Adresse"), QString::fromUtf8("Type prévu"),
                           QStringLiteral("Lieu"), QString::fromUtf8("Type trouvé"),
                           QStringLiteral("Écart")},
                          rows);
}

void Import_Plan_Mnu_Click(Tool& t) {
    if (!t.dialogs) return;
    const QString path =
        t.dialogs->open_file(QString::fromUtf8("Liste prévue des détecteurs"),
                             QStringLiteral("Listes et rapports (*.csv *.txt *.json);;Tous (*)"));
    if (path.isEmpty() || t.state.Quit_Flag) return;
    QString why;
    if (!import_plan(t.planned, t.record, path, &why)) {
        t.dialogs->msg_box(why, Msg_Exclamation, QStringLiteral("LISTE PREVUE"));
        return;
    }
    show_cell_marks(t, 0);
    if (auto* r = qobject_cast<Site_Recorder*>(t.site_recorder.get()); r && r->recording())
        r->plan_set(t.planned);
    Compare_Mnu_Click(t);
}

bool import_plan(Planned_Loop& plan, Loop_Record& record, const QString& path, QString* why) {
    QByteArray content;
    const Read_Result r = read_regular_file(path, Planned_Loop::Max_Bytes, &content);
    Planned_Loop read;
    std::map<int, Planned_Loop::Entry> from_report;
    if (r != Read_Result::Done)
        *why = read_error(r);
    else if (content.trimmed().startsWith('{') ? read_report_plan(content, &from_report, why)
                                               : read.read(content, why))
        why->clear();
    if (!from_report.empty()) read.assign(from_report);
    if (!why->isEmpty()) {
        *why =
            QString::fromUtf8("%1 n'est pas importé :\n%2").arg(QFileInfo(path).fileName(), *why);
        return false;
    }
    plan = std::move(read);
    record.note(QString::fromUtf8("Liste prévue importée : %1 détecteurs (%2%3)")
                    .arg(plan.entries().size())
                    .arg(QFileInfo(path).fileName(), plan.windows_1252()
                                                         ? QStringLiteral(", lue en Windows-1252")
                                                         : QString()));
    return true;
}
