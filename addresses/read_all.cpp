#include "addresses/read_all.h"

#include "addresses/grid.h"
#include "addresses/identity.h"
#include "addresses/led_walk.h"
#include "engine/requests.h"
#include "model/detector_types.h"
#include "model/tool.h"

namespace {

const QString Idle_Entry = QString::fromUtf8("&Lire tous les détecteurs");
const QString Running_Entry = QString::fromUtf8("Arrêter la &lecture des détecteurs");

// The detector being read, counted from 1, in the status line and on the bar alike.
void show_progress(Tool& t, int address) {
    const Tool::Read_All_Run& run = t.read_all;
    t.form.Cur_Adr_Lbl.set_caption(QString::fromUtf8("Détecteur %1 : %2 / %3")
                                       .arg(three_digits(address))
                                       .arg(run.passed + 1)
                                       .arg(run.total));
    t.form.Cur_Adr_Lbl.set_visible(true);
    t.form.Read_All_Bar.set_max(run.total);
    t.form.Read_All_Bar.set_value(run.passed + 1);
}

// The status line is narrow: what went wrong only, in short words when the long ones would not
// fit, and without the total when the counts add up to it anyway.
QString status_summary(const Tool::Read_All_Run& run) {
    const bool stopped = !run.stop.isEmpty();
    QString text;
    for (const int level : {0, 1, 2}) {
        const bool brief = level > 0;
        QStringList parts{brief ? QStringLiteral("%1 compl.").arg(run.read.complete)
                                : record::count_text(run.read.complete, "complète")};
        if (run.read.partial)
            parts << (brief ? QStringLiteral("%1 part.").arg(run.read.partial)
                            : record::count_text(run.read.partial, "partielle"));
        if (run.read.failed)
            parts << QString::fromUtf8(brief ? "%1 sans rép." : "%1 sans réponse")
                         .arg(run.read.failed);
        // A stopped run says so; one that went through names what it could not read.
        if (!stopped && run.unread()) parts << record::count_text(run.unread(), "non lu");
        text = (stopped ? QString::fromUtf8("Arrêt : ") : QString()) +
               parts.join(QStringLiteral(", "));
        if (level < 2 || stopped) text += QStringLiteral(" / %1").arg(run.total);
        if (text.size() <= 46) break;
    }
    return text;
}

// The screen as it was before the run, with what the run achieved in the status line.
void end_run(Tool& t, const QString& stop) {
    Tool::Read_All_Run& run = t.read_all;
    run.active = false;
    run.stop = stop;
    t.form.Read_All_Mnu.set_caption(Idle_Entry);
    t.form.Read_All_Bar.set_visible(false);
    t.form.Current_Operation_Lbl.set_caption(Bus_Form::Waiting_Operation);
    show_run_summary(t, status_summary(run));
    t.record.note(QString::fromUtf8("Lecture de tous les détecteurs %1 : %2")
                      .arg(stop.isEmpty() ? QString::fromUtf8("terminée")
                                          : QString::fromUtf8("arrêtée (%1)").arg(stop),
                           read_all_counts(run)));
}

// The next found address from `from` on, or 0: the search finds 1 to Adr_Count.
int next_found(const Tool& t, int from) {
    const int a = std::max(from, 1);
    return a <= t.state.Adr_Count && a <= 128 ? a : 0;
}

} // namespace

QString read_all_counts(const Tool::Read_All_Run& run) {
    QString text = QString::fromUtf8("%1, %2, %3 sans réponse sur %4")
                       .arg(record::count_text(run.read.complete, "complète"),
                            record::count_text(run.read.partial, "partielle"))
                       .arg(run.read.failed)
                       .arg(run.total);
    if (run.unread()) text += QStringLiteral(", ") + record::count_text(run.unread(), "non lu");
    return text;
}

void Read_All_Mnu_Click(Tool& t) {
    if (t.read_all.active) {
        stop_read_all(t);
        return;
    }
    if (!run_may_start(t, QStringLiteral("Lecture"), QStringLiteral("LECTURE"))) return;
    stop_led_walk(t);
    Tool::Read_All_Run& run = t.read_all;
    run = {};
    run.active = true;
    run.next = 1;
    run.total = std::min<int>(t.state.Adr_Count, 128);
    t.form.Read_All_Mnu.set_caption(Running_Entry);
    t.form.Current_Operation_Lbl.set_caption(QString::fromUtf8("Lecture de tous les détecteurs"));
    t.form.Read_All_Bar.set_max(run.total);
    t.form.Read_All_Bar.set_value(0);
    t.form.Read_All_Bar.set_visible(true);
    t.record.note(QString::fromUtf8("Lecture de tous les détecteurs : %1 à lire").arg(run.total));
    t.link.run_request([&t] {
        // Stopped, or overtaken by a search, before the bus came free.
        if (t.read_all.active && !t.state.Grid_Locked) set_task(t.state, Task::Read_All);
    });
}

bool run_may_start(Tool& t, const QString& what, const QString& title) {
    // The grid is locked while a search or a simulation runs: neither leaves the bus to it.
    if (!t.state.Grid_Locked && next_found(t, 1) != 0) return true;
    if (t.dialogs)
        t.dialogs->msg_box(t.state.Grid_Locked
                               ? QString::fromUtf8("%1 impossible pendant une recherche ou une "
                                                   "simulation.")
                                     .arg(what)
                               : QString::fromUtf8("Aucun détecteur trouvé : lancez d'abord la "
                                                   "recherche (F5)."),
                           Msg_Information, title);
    return false;
}

void stop_read_all(Tool& t) {
    if (!t.read_all.active) return;
    // A readout under way stops before its next frame.
    t.readouts.cancel();
    end_run(t, QString::fromUtf8("par l'utilisateur"));
}

void another_operation_starts(Tool& t) {
    stop_read_all(t);
    stop_led_walk(t);
    clear_run_summary(t);
}

void Read_All(Tool& t) {
    Tool::Read_All_Run& run = t.read_all;
    const int address = run.active ? next_found(t, run.next) : 0;
    if (address == 0) {
        if (run.active) end_run(t, QString());
        set_task(t.state, Task::Probe_Interface);
        return;
    }
    show_progress(t, address);
    open_panel(t, address);
    t.state.Sel_Adr = static_cast<uint8_t>(address);
    t.state.Check_Lock = false;
    const Readouts::Ticket readout = t.readouts.begin();
    Read_Identity(t);
    // Stopped meanwhile (the menu entry, Escape, a click, a search, the simulation): whatever
    // asked for it has its own next state queued behind this step.
    if (!run.active || readout.cancelled()) return;
    // A board that sent nothing at all during the readout has not been heard by its detector
    // either: the run ends there, the detector's result unknown, and the probe takes over.
    if (t.record.board_silent()) {
        end_run(t, QString::fromUtf8("la carte d'interface ne répond plus"));
        return;
    }
    ++run.passed;
    run.read.add(t.record.at(address).readout);
    run.next = static_cast<uint8_t>(std::min(address + 1, 255));
    // The next detector follows at once, as a step longer than a tick is followed: the pauses
    // of the readout held the tick, which would otherwise come up to 100 ms later.
    t.state.Task_Tick = true;
    set_task(t.state, Task::Read_All);
}
