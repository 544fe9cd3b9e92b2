#include "app/report_export.h"

#include "app/report.h"
#include "model/tool.h"

#include <QDir>
#include <QRegularExpression>
#include <QSaveFile>
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

// Writes through a temporary file beside the target, renamed into place once whole: a full
// disk or a folder without the right to write leaves nothing behind.
bool write_file(const QString& path, const QByteArray& content, QString* why) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *why = QString::fromUtf8("impossible de créer un fichier dans ce dossier (droits "
                                 "d'écriture ?)");
        return false;
    }
    if (file.write(content) != content.size() || !file.commit()) {
        *why = QString::fromUtf8("l'écriture a échoué (disque plein ?)");
        return false;
    }
    return true;
}

} // namespace

void Export_Report_Mnu_Click(Tool& t) {
    if (!t.dialogs) return;
    if (t.record.found().isEmpty() && t.planned.empty()) {
        t.dialogs->msg_box(QString::fromUtf8("Rien à exporter : lancez d'abord la recherche (F5)."),
                           vbInformation, Title);
        return;
    }
    QSettings remembered(QStringLiteral("kalvenor"), QStringLiteral("kalvenor"));
    const QStringList keys = {QStringLiteral("report/site"), QStringLiteral("report/loop"),
                              QStringLiteral("report/engineer")};
    QStringList values;
    for (const QString& k : keys)
        values << remembered.value(k).toString();
    if (!t.dialogs->ask_fields(
            QStringLiteral("Rapport de mise en service"),
            {QStringLiteral("Site"), QStringLiteral("Boucle"), QStringLiteral("Technicien")},
            &values) ||
        t.state.Quit_Flag)
        return;
    for (int i = 0; i < keys.size(); ++i)
        remembered.setValue(keys.at(i), values.value(i).trimmed());
    const QString folder = t.dialogs->choose_folder(
        QString::fromUtf8("Dossier où écrire le rapport"),
        remembered.value(QStringLiteral("report/folder"), QDir::homePath()).toString());
    if (folder.isEmpty() || t.state.Quit_Flag) return;
    remembered.setValue(QStringLiteral("report/folder"), folder);

    Report_Header header{
        values.value(0).trimmed(),
        values.value(1).trimmed(),
        values.value(2).trimmed(),
        QDateTime::currentDateTime(),
        interface_version(t),
        QStringLiteral("COM%1").arg(t.state.Com_Port) +
            (t.port_device.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(t.port_device))};
    const Report_Rows rows = report_rows(t.record, t.planned);
    const QString base = QStringLiteral("rapport-%1-%2-%3")
                             .arg(name_part(header.site), name_part(header.loop),
                                  header.when.toString(QStringLiteral("yyyyMMdd-HHmm")));
    const QList<std::pair<QString, QByteArray>> files = {
        {base + ".csv", report_csv(rows)},
        {base + ".json", report_json(header, t.record, t.planned)},
        {base + ".pdf", report_pdf(header, rows, report_totals(t.record, t.planned))}};

    QStringList written;
    for (const auto& [name, content] : files) {
        const QString path = QDir(folder).filePath(name);
        QString why;
        if (write_file(path, content, &why)) {
            written << path;
            continue;
        }
        // The report is the three files together: none is left when one is missing.
        for (const QString& done : written)
            QFile::remove(done);
        t.dialogs->msg_box(QString::fromUtf8("Le rapport n'est pas écrit :\n%1 : %2.")
                               .arg(QDir::toNativeSeparators(path), why),
                           vbExclamation, Title);
        return;
    }
    t.record.note(QString::fromUtf8("Rapport exporté : %1").arg(base));
    t.dialogs->msg_box(QString::fromUtf8("Rapport écrit dans %1 :\n%2.pdf, .csv et .json")
                           .arg(QDir::toNativeSeparators(folder), base),
                       vbInformation, Title);
}
