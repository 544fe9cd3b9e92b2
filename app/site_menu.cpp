#include "app/site_menu.h"

#include "app/plan.h"
#include "app/settings.h"
#include "app/site_recorder.h"
#include "app/visits.h"
#include "model/tool.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

namespace {

const QString Title = QStringLiteral("SITE");
const QString Recent_Key = QStringLiteral("site/recent");
const QString Engineer_Key = QStringLiteral("site/engineer");
constexpr int Recent_Count = 4;
const QString Window_Caption = QStringLiteral("BUS AUTOCODAGE TARNELIS");

Site_Recorder* recorder(Tool& t) {
    return qobject_cast<Site_Recorder*>(t.site_recorder.get());
}

void show_recent(Tool& t) {
    const QStringList recent = user_settings().value(Recent_Key).toStringList();
    for (int i = 1; i <= Recent_Count; ++i) {
        Control& item = t.form.Site_Recent_Mnu(i);
        const QString path = recent.value(i - 1);
        item.set_visible(!path.isEmpty());
        item.set_caption(QStringLiteral("&%1 %2").arg(i).arg(QDir::toNativeSeparators(path)));
    }
}

// Begins the visit; says why not in a box, and the record goes on where it went.
void open_site(Tool& t, const QString& path, bool create, const QString& name, const QString& loop,
               const QString& engineer) {
    Site_Recorder* r = recorder(t);
    QString why;
    site::Stored_Visit previous;
    // A session's record goes with it into the site; the session says where it went.
    const QString hand_over =
        t.site.path.isEmpty() ? QFileInfo(path).absoluteFilePath() : QString();
    if (!r || !r->start({path, create, name, loop, engineer, hand_over, &previous}, &why)) {
        if (!r || !r->recording()) {
            t.site = {};
            t.form.set_caption(Window_Caption);
        }
        t.dialogs->msg_box(why, Msg_Exclamation, Title);
        return;
    }
    t.site = {QFileInfo(path).absoluteFilePath(), r->site_name(), r->loop(), engineer};
    QSettings s = user_settings();
    QStringList recent = s.value(Recent_Key).toStringList();
    recent.removeAll(t.site.path);
    recent.prepend(t.site.path);
    s.setValue(Recent_Key, recent.mid(0, Recent_Count));
    s.setValue(Engineer_Key, engineer);
    show_recent(t);
    t.form.set_caption(
        QString::fromUtf8("%1 — %2, boucle %3").arg(Window_Caption, t.site.name, t.site.loop));
    t.record.note(QString::fromUtf8("Site %1, boucle %2 : visite enregistrée dans %3")
                      .arg(t.site.name, t.site.loop, QDir::toNativeSeparators(t.site.path)));
    // The loop's last visit is what this one is compared with; a plan kept in the site comes
    // back when none is loaded.
    // A report taken as the earlier visit stays so when the site has no visit of the loop yet.
    if (previous.visit.id) {
        set_earlier_visit(t, {previous.visit.started,
                              QString::fromUtf8("visite %1 du site").arg(previous.visit.id),
                              previous.detectors, previous.searched_to});
        t.record.note(
            QString::fromUtf8("Visite précédente de la boucle : %1")
                .arg(previous.visit.started.toString(QStringLiteral("dd/MM/yyyy HH:mm"))));
    }
    if (t.planned.empty() && !previous.planned.empty()) {
        t.planned.assign(previous.planned);
        show_cell_marks(t, 0);
    } else if (!t.planned.empty()) {
        r->plan_set(t.planned);
    }
}

// The loop and the engineer of the visit, the site's last loop offered.
void ask_visit(Tool& t, const QString& path) {
    QString why;
    QStringList values{t.site.loop, remembered_engineer()};
    QStringList loops{t.site.loop};
    // The site open now is held by this window: its loop is offered as it is.
    if (QFileInfo(path).absoluteFilePath() != t.site.path) {
        const auto file = site::File::open(path, &why);
        if (!file) {
            t.dialogs->msg_box(why, Msg_Exclamation, Title);
            return;
        }
        loops = file->loops();
        values[0] = loops.value(loops.size() - 1, QStringLiteral("1"));
    }
    if (!t.dialogs->ask_fields(QString::fromUtf8("Visite du site"),
                               {QStringLiteral("Boucle"), QStringLiteral("Technicien")}, &values,
                               {loops, {}}) ||
        t.state.Quit_Flag)
        return;
    open_site(t, path, false, {}, values.value(0).trimmed(), values.value(1).trimmed());
}

} // namespace

QString remembered_engineer() {
    return user_settings().value(Engineer_Key).toString();
}

void wire_site(Tool& t) {
    if (!t.site_recorder) {
        auto* r = new Site_Recorder(t.record);
        t.site_recorder.reset(r);
        r->follow_board(t);
        // Said once; what could not be written is kept and goes with the next facts.
        Tool* tp = &t;
        QObject::connect(r, &Site_Recorder::failed, &t.form, [tp](const QString& why) {
            if (tp->dialogs && !tp->state.Quit_Flag)
                tp->dialogs->msg_box(QString::fromUtf8("Le fichier de site ne peut pas être écrit "
                                                       ":\n%1\nCe que l'outil apprend est gardé "
                                                       "et sera écrit dès que possible.")
                                         .arg(why),
                                     Msg_Exclamation, Title);
        });
    }
    show_recent(t);
}

void Site_New_Mnu_Click(Tool& t) {
    if (!t.dialogs) return;
    QString path =
        t.dialogs->save_file(QStringLiteral("Nouveau fichier de site"),
                             QDir::home().filePath(QStringLiteral("site") + site::Extension),
                             QStringLiteral("Sites (*.kalsite)"));
    if (path.isEmpty() || t.state.Quit_Flag) return;
    if (QFileInfo(path).suffix().isEmpty()) path += site::Extension;
    QStringList values{QFileInfo(path).completeBaseName(), QStringLiteral("1"),
                       remembered_engineer()};
    if (!t.dialogs->ask_fields(
            QStringLiteral("Nouveau site"),
            {QStringLiteral("Site"), QStringLiteral("Boucle"), QStringLiteral("Technicien")},
            &values) ||
        t.state.Quit_Flag)
        return;
    open_site(t, path, true, values.value(0).trimmed(), values.value(1).trimmed(),
              values.value(2).trimmed());
}

void Site_Open_Mnu_Click(Tool& t) {
    if (!t.dialogs) return;
    const QString path = t.dialogs->open_file(QStringLiteral("Ouvrir un site"),
                                              QStringLiteral("Sites (*.kalsite);;Tous (*)"));
    if (path.isEmpty() || t.state.Quit_Flag) return;
    ask_visit(t, path);
}

void Site_Recent_Mnu_Click(Tool& t, int index) {
    const QString path = user_settings().value(Recent_Key).toStringList().value(index - 1);
    if (!t.dialogs || path.isEmpty()) return;
    ask_visit(t, path);
}

void open_site_at_start(Tool& t, const QString& path) {
    if (!t.dialogs || path.isEmpty() || t.state.Quit_Flag) return;
    ask_visit(t, path);
}

bool open_last_site_at_start(Tool& t) {
    const QString path = user_settings().value(Recent_Key).toStringList().value(0);
    if (path.isEmpty()) {
        if (t.dialogs && !t.state.Quit_Flag)
            t.dialogs->msg_box(QString::fromUtf8("Aucun site n'a encore été ouvert : la fenêtre "
                                                 "démarre sans site."),
                               Msg_Information, Title);
        return false;
    }
    open_site_at_start(t, path);
    return true;
}
