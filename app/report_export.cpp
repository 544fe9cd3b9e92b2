#include "app/report_export.h"

#include "app/presenter.h"
#include "app/settings.h"
#include "app/site_recorder.h"
#include "app/visits.h"
#include "link/regular_file.h"
#include "model/tool.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>

namespace {

const QString Title = QStringLiteral("RAPPORT");

// Part of a file name from what a person typed: letters, digits, '-' and '_' only.
QString name_part(const QString& s) {
    static const QRegularExpression other(QStringLiteral("[^\\w-]+"),
                                          QRegularExpression::UseUnicodePropertiesOption);
    QString part = s.trimmed().replace(other, QStringLiteral("-")).left(40);
    return part.isEmpty() ? QStringLiteral("site") : part;
}

const QStringList Extensions = {QStringLiteral(".csv"), QStringLiteral(".json"),
                                QStringLiteral(".pdf")};

// Whether any file of the report would meet something at its name (a dangling link included).
bool taken(const QDir& folder, const QString& base) {
    for (const QString& ext : Extensions) {
        const QFileInfo at(folder.filePath(base + ext));
        if (at.exists() || at.isSymLink()) return true;
    }
    return false;
}

// The names a report may take, in order: the minute's, then with the seconds, then numbered.
QStringList base_names(const QString& stem, const QDateTime& when) {
    const QString seconds = stem + when.toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QStringList names{stem + when.toString(QStringLiteral("yyyyMMdd-HHmm")), seconds};
    for (int n = 2; n <= 99; ++n)
        names << seconds + QStringLiteral("-%1").arg(n);
    return names;
}

} // namespace

Report_Header report_header(const Tool& t, const QString& site, const QString& loop,
                            const QString& engineer) {
    Report_Header h{
        site,
        loop,
        engineer,
        QDateTime::currentDateTime(),
        interface_version(t.board),
        QStringLiteral("COM%1").arg(t.state.Com_Port) +
            (t.port_device.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(t.port_device)),
        {},
        {}};
    add_visit_changes(h, t.earlier, t.record);
    return h;
}

void Export_Report_Mnu_Click(Tool& t) {
    if (!t.dialogs) return;
    if (t.record.found().isEmpty() && t.planned.empty()) {
        t.dialogs->msg_box(QString::fromUtf8("Rien à exporter : lancez d'abord la recherche (F5)."),
                           Msg_Information, Title);
        return;
    }
    QSettings remembered = user_settings();
    const QStringList keys = {QStringLiteral("report/site"), QStringLiteral("report/loop"),
                              QStringLiteral("report/engineer")};
    // An open site gives its own names; otherwise the last ones typed are offered.
    QStringList values{t.site.name, t.site.loop, t.site.engineer};
    const bool from_site = !t.site.path.isEmpty();
    if (!from_site)
        for (int i = 0; i < keys.size(); ++i)
            values[i] = remembered.value(keys.at(i)).toString();
    if (!t.dialogs->ask_fields(
            QStringLiteral("Rapport de mise en service"),
            {QStringLiteral("Site"), QStringLiteral("Boucle"), QStringLiteral("Technicien")},
            &values) ||
        t.state.Quit_Flag)
        return;
    for (int i = 0; i < keys.size() && !from_site; ++i)
        remembered.setValue(keys.at(i), values.value(i).trimmed());
    const QString folder = t.dialogs->choose_folder(
        QString::fromUtf8("Dossier où écrire le rapport"),
        remembered.value(QStringLiteral("report/folder"), QDir::homePath()).toString());
    if (folder.isEmpty() || t.state.Quit_Flag) return;
    remembered.setValue(QStringLiteral("report/folder"), folder);

    const Report_Header header = report_header(
        t, values.value(0).trimmed(), values.value(1).trimmed(), values.value(2).trimmed());
    const Report_Rows rows = report_rows(t.record, t.planned);
    const QList<QByteArray> contents = {
        report_csv(rows), report_json(header, t.record, t.planned),
        report_pdf(header, rows, report_totals(t.record, t.planned))};

    // A report never replaces anything: each file is created new, under a name nothing holds
    // yet. The report is the three files together: when one cannot be written, the others this
    // export made go too, and nothing else.
    const QDir dir(folder);
    const QString stem =
        QStringLiteral("rapport-%1-%2-").arg(name_part(header.site), name_part(header.loop));
    QString base;
    for (const QString& candidate : base_names(stem, header.when)) {
        if (taken(dir, candidate)) continue;
        QStringList made;
        File_Fault fault = File_Fault::None;
        QString path;
        for (int i = 0; i < Extensions.size() && fault == File_Fault::None; ++i) {
            path = dir.filePath(candidate + Extensions.at(i));
            fault = create_new_file(path, contents.at(i));
            if (fault == File_Fault::None) made << path;
        }
        if (fault == File_Fault::None) {
            base = candidate;
            break;
        }
        for (const QString& done : made)
            QFile::remove(done);
        // Taken between the look and the writing: the next name.
        if (fault == File_Fault::Taken) continue;
        t.dialogs->msg_box(QString::fromUtf8("Le rapport n'est pas écrit :\n%1 : %2.")
                               .arg(QDir::toNativeSeparators(path), file_fault_text(fault)),
                           Msg_Exclamation, Title);
        return;
    }
    if (base.isEmpty()) {
        t.dialogs->msg_box(QString::fromUtf8("Le rapport n'est pas écrit : les noms de rapport "
                                             "de cette minute sont tous pris dans %1.")
                               .arg(QDir::toNativeSeparators(folder)),
                           Msg_Exclamation, Title);
        return;
    }
    t.record.note(QString::fromUtf8("Rapport exporté : %1").arg(base));
    if (auto* r = qobject_cast<Site_Recorder*>(t.site_recorder.get()); r && r->recording())
        r->report_written(dir.filePath(base + QStringLiteral(".pdf")));
    t.dialogs->msg_box(QString::fromUtf8("Rapport écrit dans %1 :\n%2.pdf, .csv et .json")
                           .arg(QDir::toNativeSeparators(folder), base),
                       Msg_Information, Title);
}
