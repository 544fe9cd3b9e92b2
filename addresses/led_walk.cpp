#include "addresses/led_walk.h"

#include "addresses/read_all.h"
#include "engine/led.h"
#include "engine/requests.h"
#include "engine/tempo.h"
#include "model/detector_types.h"
#include "model/tool.h"

#include <QDeadlineTimer>

namespace {

const QString Idle_Entry = QString::fromUtf8("Allumer les LED &une à une...");
const QString Running_Entry = QString::fromUtf8("Arrêter l'allumage des LED");

void show_lit(Tool& t) {
    const Tool::Led_Walk_Run& run = t.led_walk;
    const record::Detector& d = t.record.at(run.lit);
    t.form.Cur_Adr_Lbl.set_caption(
        QString::fromUtf8("LED %1 allumée%2 (V : vue)")
            .arg(three_digits(run.lit), d.led_seen ? QString::fromUtf8(", vue") : QString()));
    t.form.Cur_Adr_Lbl.set_visible(true);
}

void end_walk(Tool& t, const QString& how) {
    t.led_walk.active = false;
    t.form.Led_Walk_Mnu.set_caption(Idle_Entry);
    t.form.Current_Operation_Lbl.set_caption(Bus_Form::Waiting_Operation);
    int seen = 0;
    for (int a = 1; a <= t.state.Adr_Count && a <= 128; ++a)
        seen += t.record.at(a).led_seen;
    const QString summary =
        QString::fromUtf8("LED vues : %1 sur %2").arg(seen).arg(t.state.Adr_Count);
    show_run_summary(t, summary);
    t.record.note(QString::fromUtf8("Allumage des LED une à une %1 : %2").arg(how, summary));
}

} // namespace

void Led_Walk_Mnu_Click(Tool& t) {
    if (t.led_walk.active) {
        stop_led_walk(t);
        return;
    }
    if (!t.dialogs || !run_may_start(t, QStringLiteral("Allumage"), QStringLiteral("LED"))) return;
    const QString answer =
        t.dialogs->input_box(QString::fromUtf8("Durée d'allumage de chaque LED, en secondes "
                                               "(1 à 60) :"),
                             QStringLiteral("LED UNE A UNE"), QString::number(t.led_walk.seconds));
    bool number = false;
    const int seconds = answer.trimmed().toInt(&number);
    if (t.state.Quit_Flag || answer.isEmpty()) return;
    if (!number || seconds < 1 || seconds > 60) {
        t.dialogs->msg_box(QStringLiteral("Valeur entre 1 et 60 SVP..."), Msg_Information,
                           QStringLiteral("ERREUR"));
        return;
    }
    t.read_all.stop();
    Tool::Led_Walk_Run& run = t.led_walk;
    run = {true, 1, 0, seconds, {}};
    t.form.Led_Walk_Mnu.set_caption(Running_Entry);
    t.form.Current_Operation_Lbl.set_caption(QString::fromUtf8("Allumage des LED une à une"));
    t.record.note(QString::fromUtf8("Allumage des LED une à une, %1 s chacune").arg(seconds));
    t.link.run_request([&t] {
        if (t.led_walk.active && !t.state.Grid_Locked) set_task(t.state, Task::Led_Walk);
    });
}

void stop_led_walk(Tool& t) {
    // The LED lit now goes off at the next step, unless whatever stopped the walk has the bus
    // first: then it stays the tool's lit LED, as after LED ON.
    if (t.led_walk.active) end_walk(t, QStringLiteral("interrompu"));
}

void Led_Seen_Key(Tool& t) {
    if (!t.led_walk.active || t.led_walk.lit == 0) return;
    t.record.set_led_seen(t.led_walk.lit, true);
    show_lit(t);
}

void Led_Walk(Tool& t) {
    Tool::Led_Walk_Run& run = t.led_walk;
    // A LED lit stays so, tick after tick, without a byte on the line, until its time is up or
    // the walk is stopped; then it goes off and the next one comes on.
    if (run.lit != 0) {
        if (run.active && !run.until.hasExpired()) return;
        if (switch_led_off(t, run.lit)) t.state.Led_Address = 0;
        run.lit = 0;
        Tempo_Wait(t, 100);
    }
    const int address =
        run.active && run.next <= t.state.Adr_Count && run.next <= 128 ? run.next : 0;
    if (address == 0) {
        if (run.active) end_walk(t, QStringLiteral("terminé"));
        set_task(t.state, Task::Probe_Interface);
        return;
    }
    // The tool keeps one LED lit at most: one lit by a click goes off first.
    if (t.state.Led_Address > 0) {
        if (switch_led_off(t, t.state.Led_Address)) t.state.Led_Address = 0;
        Tempo_Wait(t, 100);
    }
    run.next = uint8_t(address + 1);
    if (!switch_led_on(t, uint8_t(address))) return; // refused: the next one at the next tick
    run.lit = uint8_t(address);
    run.until = QDeadlineTimer(t.link.clock_ms(run.seconds * 1000));
    show_lit(t);
}
