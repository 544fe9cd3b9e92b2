#include "app/trace.h"

#include "model/tool.h"

#include <QDateTime>
#include <QDir>
#include <QTimer>

namespace {

const QString Start_Entry = QStringLiteral("Enregistrer la &trace...");
const QString Stop_Entry = QStringLiteral("Arrêter la &trace");
const QString Title = QStringLiteral("TRACE");

void stop_trace(Tool& t) {
    t.link.trace.close();
    t.form.Trace_Mnu.set_caption(Start_Entry);
}

} // namespace

bool start_trace(Tool& t, const QString& path, QString* why) {
    if (!t.link.trace.open(path, why)) return false;
    t.form.Trace_Mnu.set_caption(Stop_Entry);
    t.record.note(QStringLiteral("Trace de la ligne dans %1").arg(QDir::toNativeSeparators(path)));
    Tool* tp = &t;
    // Told from inside an exchange: the box waits for the event loop, not in the middle of it.
    t.link.trace.stopped = [tp] {
        QTimer::singleShot(0, &tp->form, [tp] {
            stop_trace(*tp);
            if (tp->dialogs && !tp->state.Quit_Flag)
                tp->dialogs->msg_box(tp->link.trace.failure(), Msg_Exclamation, Title);
        });
    };
    return true;
}

void Trace_Mnu_Click(Tool& t) {
    if (!t.dialogs) return;
    if (t.link.trace.is_open()) {
        const QString path = t.link.trace.path();
        stop_trace(t);
        t.dialogs->msg_box(
            QString::fromUtf8("Trace enregistrée dans %1.").arg(QDir::toNativeSeparators(path)),
            Msg_Information, Title);
        return;
    }
    const QString path = t.dialogs->save_file(
        QString::fromUtf8("Fichier de la trace"),
        QStringLiteral("trace-%1.txt")
            .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"))),
        QStringLiteral("Texte (*.txt *.log);;Tous (*)"));
    if (path.isEmpty() || t.state.Quit_Flag) return;
    QString why;
    if (!start_trace(t, path, &why))
        t.dialogs->msg_box(QString::fromUtf8("La trace ne peut pas commencer : %1.").arg(why),
                           Msg_Exclamation, Title);
}
