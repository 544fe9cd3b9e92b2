#include "app/session_file.h"

#include "addresses/search.h"
#include "app/plan.h"
#include "app/site_menu.h"
#include "app/site_recorder.h"
#include "model/tool.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace {

const QString Title = QStringLiteral("SESSION");
// The session's own words in the file: what became of a visit offered again.
const QString Taken_Up = QStringLiteral("reprise");
const QString Set_Aside = QString::fromUtf8("écartée");
// A detector from a session taken up: found then, not confirmed by a search since.
constexpr Bgr_Colour Cell_Earlier = RGB(200, 200, 255);
constexpr int Sessions_Kept = 10;

// "1 détecteur trouvé", "20 détecteurs trouvés".
QString found_text(int n) {
    return n > 1 ? QString::fromUtf8("%1 détecteurs trouvés").arg(n)
                 : QString::fromUtf8("%1 détecteur trouvé").arg(n);
}

QString when_text(const QDateTime& when) {
    return when.toString(QStringLiteral("dd/MM/yyyy HH:mm"));
}

// Puts the cells of the detectors taken up in the grid, without making them found for the bus:
// a new search decides.
void show_taken_up(Tool& t) {
    for (int a = Loop_Record::First; a <= Loop_Record::Last; ++a) {
        const record::Detector& d = t.record.at(a);
        if (!d.earlier) continue;
        t.form.Adr_Box(a).set_back_color(Cell_Earlier);
        t.form.Adr_Box(a).set_caption(cell_caption(a, d.type_name));
    }
    show_cell_marks(t, 0);
}

// The last session, when it learned something of the loop and ended without a report, is offered
// once: taken up or set aside, it is not offered again.
void offer_last_session(Tool& t, site::File& file) {
    const QList<site::Visit> visits = file.visits();
    if (visits.isEmpty() || !t.dialogs) return;
    const site::Visit& last = visits.last();
    // Carried on elsewhere, reported, or nothing learned of the loop itself: nothing to offer.
    if (!last.handed_to.isEmpty() || last.reports > 0 || last.found == 0) return;
    site::Stored_Visit stored;
    if (!file.load_visit(last.id, &stored)) return;
    const bool yes = t.dialogs->ask_yes_no(
        QString::fromUtf8("La session du %1 s'est terminée sans rapport (%2, %3 en entier).\n\n"
                          "La reprendre ? Le relevé, la liste prévue et le journal reviennent ; "
                          "les détecteurs restent à confirmer par une nouvelle recherche.")
            .arg(when_text(last.started), found_text(last.found),
                 QString::fromUtf8(last.read > 1 ? "%1 lus" : "%1 lu").arg(last.read)),
        Title);
    site::Batch mark;
    mark.handed_to = yes ? Taken_Up : Set_Aside;
    if (!file.write(last.id, mark) || !yes) return;
    for (record::Detector& d : stored.detectors) {
        d.earlier = d.found;
        d.led_on = false;
        d.point = record::Point::Unknown;
    }
    t.record.restore(stored.detectors, stored.searched_to, file.events(last.id));
    t.planned.assign(stored.planned);
    show_taken_up(t);
    t.record.note(QString::fromUtf8("Session du %1 reprise : %2 à confirmer par une recherche")
                      .arg(when_text(last.started), found_text(last.found)));
}

} // namespace

QString session_file_path() {
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation))
        .filePath(QStringLiteral("kalvenor/session") + site::Extension);
}

void begin_session_file(Tool& t) {
    auto* r = qobject_cast<Site_Recorder*>(t.site_recorder.get());
    if (!r || r->recording()) return;
    const QString path = session_file_path();
    QDir().mkpath(QFileInfo(path).absolutePath());
    const QFileInfo info(path);
    Site_Recorder::Visit_Start start{path,
                                     !info.exists() && !info.isSymLink(),
                                     QStringLiteral("Session"),
                                     QStringLiteral("1"),
                                     remembered_engineer(),
                                     {},
                                     nullptr};
    QString why;
    if (!start.create) {
        bool busy = false;
        const auto file = site::File::open(path, &why, &busy);
        if (busy) {
            t.record.note(QString::fromUtf8("Session non enregistrée : une autre fenêtre de "
                                            "l'outil enregistre la sienne"));
            return;
        }
        if (file) {
            offer_last_session(t, *file);
            // A session file is a scratch pad, not an archive: the last sessions stay, for
            // whoever needs one back, and the file stays small enough to open at once.
            file->forget_empty_visits();
            file->forget_old_visits(Sessions_Kept);
        } else {
            // Ours, but unusable: kept aside as it is, for whoever wants to look at it, and a new
            // one begins. Its log goes with it, under the same new name.
            const QString aside =
                path + QStringLiteral(".illisible-") +
                QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
            if (!QFile::rename(path, aside)) {
                t.record.note(QString::fromUtf8("Session non enregistrée : %1").arg(why));
                return;
            }
            for (const char* end : {"-wal", "-shm"})
                QFile::rename(path + QLatin1String(end), aside + QLatin1String(end));
            t.record.note(QString::fromUtf8("Fichier de session inutilisable (%1), mis de côté "
                                            "sous %2")
                              .arg(why, QDir::toNativeSeparators(aside)));
            start.create = true;
        }
    }
    if (!r->start(start, &why))
        t.record.note(QString::fromUtf8("Session non enregistrée : %1").arg(why));
}
