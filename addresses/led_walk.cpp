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

void show_lit(Tool& t, uint8_t lit) {
    const record::Detector& d = t.record.at(lit);
    t.form.Cur_Adr_Lbl.set_caption(
        QString::fromUtf8("LED %1 allumée%2 (V : vue)")
            .arg(three_digits(lit), d.led_seen ? QString::fromUtf8(", vue") : QString()));
    t.form.Cur_Adr_Lbl.set_visible(true);
}

} // namespace

void Led_Walk_Mnu_Click(Tool& t) {
    if (t.led_walk.running()) {
        t.led_walk.stop();
        return;
    }
    if (!t.dialogs || !run_may_start(t, QStringLiteral("Allumage"), QStringLiteral("LED"))) return;
    const QString answer = t.dialogs->input_box(
        QString::fromUtf8("Durée d'allumage de chaque LED, en secondes "
                          "(1 à 60) :"),
        QStringLiteral("LED UNE A UNE"), QString::number(t.led_walk.seconds()));
    bool number = false;
    const int seconds = answer.trimmed().toInt(&number);
    if (t.state.Quit_Flag || answer.isEmpty()) return;
    if (!number || seconds < 1 || seconds > 60) {
        t.dialogs->msg_box(QStringLiteral("Valeur entre 1 et 60 SVP..."), Msg_Information,
                           QStringLiteral("ERREUR"));
        return;
    }
    t.led_walk.start(seconds);
}

void Led_Walk(Tool& t) {
    t.led_walk.step();
}

void Led_Seen_Key(Tool& t) {
    t.led_walk.seen();
}

void Led_Walk_Run::start(int seconds) {
    if (running()) return;
    t_.read_all.stop();
    phase_ = Phase::Running;
    next_ = 1;
    lit_ = 0;
    seconds_ = seconds;
    until_ = {};
    t_.form.Led_Walk_Mnu.set_caption(Running_Entry);
    t_.form.Current_Operation_Lbl.set_caption(QString::fromUtf8("Allumage des LED une à une"));
    t_.record.note(QString::fromUtf8("Allumage des LED une à une, %1 s chacune").arg(seconds));
    t_.link.run_request([this] {
        if (running() && !t_.state.Grid_Locked) set_task(t_.state, Task::Led_Walk);
    });
}

void Led_Walk_Run::stop() {
    if (running()) end(QStringLiteral("interrompu"));
}

void Led_Walk_Run::end(const QString& how) {
    phase_ = Phase::Idle;
    t_.form.Led_Walk_Mnu.set_caption(Idle_Entry);
    t_.form.Current_Operation_Lbl.set_caption(Bus_Form::Waiting_Operation);
    int seen = 0;
    for (int a = 1; a <= t_.state.Adr_Count && a <= 128; ++a)
        seen += t_.record.at(a).led_seen;
    const QString summary =
        QString::fromUtf8("LED vues : %1 sur %2").arg(seen).arg(t_.state.Adr_Count);
    show_run_summary(t_, summary);
    t_.record.run_ended(QString::fromUtf8("Allumage des LED une à une %1 : %2").arg(how, summary));
}

void Led_Walk_Run::seen() {
    if (!running() || lit_ == 0) return;
    t_.record.set_led_seen(lit_, true);
    show_lit(t_, lit_);
}

void Led_Walk_Run::step() {
    // A LED lit stays so, tick after tick, without a byte on the line, until its time is up or
    // the walk is stopped; then it goes off and the next one comes on.
    if (lit_ != 0) {
        if (running() && !until_.hasExpired()) return;
        if (switch_led_off(t_, lit_)) t_.state.Led_Address = 0;
        lit_ = 0;
        Tempo_Wait(t_, 100);
    }
    const int address = running() && next_ <= t_.state.Adr_Count && next_ <= 128 ? next_ : 0;
    if (address == 0) {
        if (running()) end(QStringLiteral("terminé"));
        set_task(t_.state, Task::Probe_Interface);
        return;
    }
    // The tool keeps one LED lit at most: one lit by a click goes off first.
    if (t_.state.Led_Address > 0) {
        if (switch_led_off(t_, t_.state.Led_Address)) t_.state.Led_Address = 0;
        Tempo_Wait(t_, 100);
    }
    next_ = uint8_t(address + 1);
    if (!switch_led_on(t_, uint8_t(address))) return; // refused: the next one at the next tick
    lit_ = uint8_t(address);
    until_ = QDeadlineTimer(t_.link.clock_ms(seconds_ * 1000));
    show_lit(t_, lit_);
}
