#include "addresses/read_all.h"

#include "addresses/grid.h"
#include "addresses/identity.h"
#include "engine/requests.h"
#include "model/detector_types.h"
#include "model/tool.h"

namespace {

const QString Idle_Entry = QString::fromUtf8("&Lire tous les détecteurs");
const QString Running_Entry = QString::fromUtf8("Arrêter la &lecture des détecteurs");

QString stop_text(Read_All_Run::Stop why) {
    switch (why) {
    case Read_All_Run::Stop::By_User:
        break;
    case Read_All_Run::Stop::Board_Silent:
        return QString::fromUtf8("la carte d'interface ne répond plus");
    }
    return QString::fromUtf8("par l'utilisateur");
}

// The detector being read, counted from 1, in the status line and on the bar alike.
void show_progress(Tool& t, const Read_All_Run& run, int address) {
    t.form.Cur_Adr_Lbl.set_caption(QString::fromUtf8("Détecteur %1 : %2 / %3")
                                       .arg(three_digits(address))
                                       .arg(run.passed() + 1)
                                       .arg(run.total()));
    t.form.Cur_Adr_Lbl.set_visible(true);
    t.form.Read_All_Bar.set_max(run.total());
    t.form.Read_All_Bar.set_value(run.passed() + 1);
}

// The status line is narrow: what went wrong only, in short words when the long ones would not
// fit, and without the total when the counts add up to it anyway.
QString status_summary(const Read_All_Run& run) {
    const bool stopped = run.phase() == Read_All_Run::Phase::Stopped;
    const record::Readout_Counts& read = run.read();
    QString text;
    for (const int level : {0, 1, 2}) {
        const bool brief = level > 0;
        QStringList parts{brief ? QStringLiteral("%1 compl.").arg(read.complete)
                                : record::count_text(read.complete, "complète")};
        if (read.partial)
            parts << (brief ? QStringLiteral("%1 part.").arg(read.partial)
                            : record::count_text(read.partial, "partielle"));
        if (read.failed)
            parts << QString::fromUtf8(brief ? "%1 sans rép." : "%1 sans réponse").arg(read.failed);
        // A stopped run says so; one that went through names what it could not read.
        if (!stopped && run.unread()) parts << record::count_text(run.unread(), "non lu");
        text = (stopped ? QString::fromUtf8("Arrêt : ") : QString()) +
               parts.join(QStringLiteral(", "));
        if (level < 2 || stopped) text += QStringLiteral(" / %1").arg(run.total());
        if (text.size() <= 46) break;
    }
    return text;
}

// The next found address from `from` on, or 0: the search finds 1 to Adr_Count.
int next_found(const Tool& t, int from) {
    const int a = std::max(from, 1);
    return a <= t.state.Adr_Count && a <= 128 ? a : 0;
}

} // namespace

QString read_all_counts(const Read_All_Run& run) {
    const record::Readout_Counts& read = run.read();
    QString text = QString::fromUtf8("%1, %2, %3 sans réponse sur %4")
                       .arg(record::count_text(read.complete, "complète"),
                            record::count_text(read.partial, "partielle"))
                       .arg(read.failed)
                       .arg(run.total());
    if (run.unread()) text += QStringLiteral(", ") + record::count_text(run.unread(), "non lu");
    return text;
}

void Read_All_Mnu_Click(Tool& t) {
    if (t.read_all.running())
        t.read_all.stop();
    else
        t.read_all.start();
}

void Read_All(Tool& t) {
    t.read_all.step();
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

void another_operation_starts(Tool& t) {
    t.read_all.stop();
    t.led_walk.stop();
    clear_run_summary(t);
}

void Read_All_Run::start() {
    if (running() || !run_may_start(t_, QStringLiteral("Lecture"), QStringLiteral("LECTURE")))
        return;
    t_.led_walk.stop();
    phase_ = Phase::Running;
    stop_ = Stop::By_User;
    next_ = 1;
    passed_ = 0;
    read_ = {};
    total_ = std::min<int>(t_.state.Adr_Count, 128);
    Bus_Form& f = t_.form;
    f.Read_All_Mnu.set_caption(Running_Entry);
    f.Current_Operation_Lbl.set_caption(QString::fromUtf8("Lecture de tous les détecteurs"));
    f.Read_All_Bar.set_max(total_);
    f.Read_All_Bar.set_value(0);
    f.Read_All_Bar.set_visible(true);
    t_.record.note(QString::fromUtf8("Lecture de tous les détecteurs : %1 à lire").arg(total_));
    t_.link.run_request([this] {
        // Stopped, or overtaken by a search, before the bus came free.
        if (running() && !t_.state.Grid_Locked) set_task(t_.state, Task::Read_All);
    });
}

void Read_All_Run::stop(Stop why) {
    if (!running()) return;
    // A readout under way stops before its next frame.
    t_.readouts.cancel();
    end(Phase::Stopped, why);
}

// The screen as it was before the run, with what the run achieved in the status line.
void Read_All_Run::end(Phase how, Stop why) {
    phase_ = how;
    stop_ = why;
    const bool stopped = how == Phase::Stopped;
    t_.form.Read_All_Mnu.set_caption(Idle_Entry);
    t_.form.Read_All_Bar.set_visible(false);
    t_.form.Current_Operation_Lbl.set_caption(Bus_Form::Waiting_Operation);
    show_run_summary(t_, status_summary(*this));
    t_.record.run_ended(QString::fromUtf8("Lecture de tous les détecteurs %1 : %2")
                            .arg(stopped ? QString::fromUtf8("arrêtée (%1)").arg(stop_text(why))
                                         : QString::fromUtf8("terminée"),
                                 read_all_counts(*this)));
}

void Read_All_Run::step() {
    const int address = running() ? next_found(t_, next_) : 0;
    if (address == 0) {
        if (running()) end(Phase::Finished, Stop::By_User);
        set_task(t_.state, Task::Probe_Interface);
        return;
    }
    show_progress(t_, *this, address);
    open_panel(t_, address);
    t_.state.Sel_Adr = static_cast<uint8_t>(address);
    t_.state.Check_Lock = false;
    const Readouts::Ticket readout = t_.readouts.begin();
    Read_Identity(t_);
    // Stopped meanwhile (the menu entry, Escape, a click, a search, the simulation): whatever
    // asked for it has its own next state queued behind this step.
    if (!running() || readout.cancelled()) return;
    // A board that sent nothing at all during the readout has not been heard by its detector
    // either: the run ends there, the detector's result unknown, and the probe takes over.
    if (t_.record.board_silent()) {
        end(Phase::Stopped, Stop::Board_Silent);
        return;
    }
    ++passed_;
    read_.add(t_.record.at(address).readout);
    next_ = static_cast<uint8_t>(std::min(address + 1, 255));
    // The next detector follows at once, as a step longer than a tick is followed: the pauses
    // of the readout held the tick, which would otherwise come up to 100 ms later.
    t_.state.Task_Tick = true;
    set_task(t_.state, Task::Read_All);
}
