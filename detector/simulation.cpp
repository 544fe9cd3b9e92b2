#include "detector/simulation.h"

#include "addresses/read_all.h"
#include "engine/connection.h"
#include "engine/led.h"
#include "engine/requests.h"
#include "engine/tempo.h"
#include "model/tool.h"

namespace {

const QString Idle_Caption = QStringLiteral("ETAT DES ADRESSES (F9)");
const QString Stop_Caption = QStringLiteral("ARRÊT SIMULATION");
const QString Running_Operation = QStringLiteral("SIMULATION GESTION BUS PAR ECS");

constexpr Bgr_Colour Found_Color = RGB(128, 128, 255);
constexpr Bgr_Colour Com_Fault_Color = RGB(255, 255, 0);
constexpr Bgr_Colour Alarm_Color = RGB(255, 0, 0);
constexpr Bgr_Colour Point_Fault_Color = RGB(255, 128, 0);
constexpr Bgr_Colour Standby_Color = RGB(0, 255, 0);

constexpr uint8_t Poll_Command = 0x10;
constexpr uint8_t State_Alarm = 0x01;
constexpr uint8_t State_Point_Fault = 0x08;

// As many polls in a row without a byte as the probe allows failures once connected.
constexpr int Silent_Polls_For_Disconnection = 3;

void show_legend(Tool& t, bool visible) {
    for (int i = 0; i <= 3; ++i) {
        t.form.Lgd_Lbl(i).set_visible(visible);
        t.form.Lgd_Shp(i).set_visible(visible);
    }
}

void set_tick_interval(Tool& t) {
    // Setting the interval of a running QTimer restarts its count; only do it when it changes.
    if (t.form.Timer_Tache.interval() != tick_ms(t)) t.form.Timer_Tache.setInterval(tick_ms(t));
}

} // namespace

void Adr_Status_Cde_Click(Tool& t) {
    another_operation_starts(t);
    if (t.state.Simulation_Active)
        t.simulation.stop();
    else
        t.simulation.start();
}

void Simulation_Poll(Tool& t) {
    t.simulation.poll();
}

void Simulation_Stop(Tool& t) {
    t.simulation.stop_step();
}

void Simulation_Run::set_phase(Phase phase) {
    phase_ = phase;
    t_.state.Simulation_Active.set(phase != Phase::Idle);
}

// A board that stops answering during a run would leave the panel green while every cell turns
// yellow one by one. Polls that get no byte at all, in a row, declare it gone, as the probe does;
// polling goes on, and the first answer shows the board connected again. Its version is read
// again by the probe once the run is over.
void Simulation_Run::watch_board(bool heard) {
    if (heard) {
        silent_polls_ = 0;
        // Shown answering again; the version is read again once the run is over.
        if (!t_.state.Connected) t_.board.set_answering(true);
        return;
    }
    if (++silent_polls_ == Silent_Polls_For_Disconnection) declare_disconnection(t_);
}

// A run that ends before its first poll has not switched it off: it is still the tool's.
void Simulation_Run::keep_led_lit_before_run() {
    if (led_lit_before_run_ == 0) return;
    t_.state.Led_Address = led_lit_before_run_;
    led_lit_before_run_ = 0;
}

void Simulation_Run::start() {
    Tool& t = t_;
    t.form.Status_Frame.set_visible(false);
    t.screen.set_mouse_pointer(Screen_Pointer::Default);
    show_legend(t, true);
    t.form.Start_Bus_Cmd.set_visible(false);
    t.form.Adr_Status_Cde.set_caption(Stop_Caption);
    t.form.Current_Operation_Lbl.set_caption(Running_Operation);
    set_tick_interval(t);
    t.state.Grid_Locked.set(true);
    t.state.Sim_Address = 1;
    set_phase(Phase::Running);
    t.state.Alarm_Latch.fill(false);
    silent_polls_ = 0;
    t.record.simulation_started();

    t.link.run_request([this, searches = t.record.searches()] {
        Tool& t = t_;
        // A search asked for just before this click has re-armed the loop and rebuilt the grid,
        // and polling would override it, so the run is called off; so is one over no address.
        if (t.record.searches() != searches || t.state.Adr_Count == 0) {
            show_legend(t, false);
            t.form.Adr_Status_Cde.set_caption(Idle_Caption);
            set_phase(Phase::Idle);
            t.record.simulation_stopped();
            if (t.state.Task_State != Task::Search_Addresses) {
                // The re-arm failed: nothing else will unlock the grid or reset the status line.
                t.state.Grid_Locked.set(false);
                t.form.Current_Operation_Lbl.set_caption(Bus_Form::Waiting_Operation);
            }
            return;
        }
        // The tool keeps at most one LED lit: the one lit when the run starts is switched off by
        // its first poll. Taken once the step that was running has ended, which may have lit
        // one (an LED walk's next) or switched its own off already.
        led_lit_before_run_ = t.state.Led_Address;
        t.state.Led_Address = 0;
        set_task(t.state, Task::Simulation_Poll);
    });
}

void Simulation_Run::stop() {
    show_legend(t_, false);
    set_phase(Phase::Stopping);
    t_.link.run_request([this] { set_task(t_.state, Task::Simulation_Stop); });
}

void Simulation_Run::stop_now() {
    if (phase_ == Phase::Idle) return;
    show_legend(t_, false);
    stop_step();
}

void Simulation_Run::poll() {
    Tool& t = t_;
    Program_State& state = t.state;
    if (const uint8_t lit = led_lit_before_run_) {
        led_lit_before_run_ = 0;
        // Refused or unanswered, it stays the tool's to switch off at the next alarm.
        if (!switch_led_off(t, lit)) state.Led_Address = lit;
        Tempo_Wait(t, 100);
    }
    if (state.Sim_Address < 1 || state.Sim_Address > 128) state.Sim_Address = 1;
    const uint8_t adr = state.Sim_Address;

    const bool answered =
        t.link.Send_Frame(Poll_Command, adr, 0x00, false, false) && t.link.rx_has(2);
    watch_board(t.link.last_reply().heard);
    const bool heard = note_board_heard(t, t.link.last_reply().heard);
    bool alarm = false;
    Bgr_Colour colour;
    record::Point point;
    if (!answered || t.link.rx(0) != 0) {
        colour = Com_Fault_Color;
        point = record::Point::Com_Fault;
    } else if (t.link.rx(1) & State_Alarm) {
        colour = Alarm_Color;
        point = record::Point::Alarm;
        alarm = true;
    } else if (t.link.rx(1) & State_Point_Fault) {
        colour = Point_Fault_Color;
        point = record::Point::Point_Fault;
    } else {
        colour = Standby_Color;
        point = record::Point::Standby;
    }
    t.form.Adr_Box(adr).set_back_color(colour);
    // A poll that got no byte at all is the board's silence: the detector keeps the state it
    // had, so an alarm that lasts through the silence stays one alarm.
    if (heard) t.record.set_point(adr, point);

    if (alarm && !state.Alarm_Latch(adr)) {
        state.Alarm_Latch(adr) = true;
        state.Led_Request = 1;
        state.Sel_Adr = adr;
        set_task(state, Task::Led_Command);
    }

    state.Sim_Address = adr < state.Adr_Count ? static_cast<uint8_t>(adr + 1) : 1;
}

void Simulation_Run::stop_step() {
    Tool& t = t_;
    Program_State& state = t.state;
    // The step may come with no simulation under way: the journal says only what happened.
    const bool was_running = phase_ != Phase::Idle;
    keep_led_lit_before_run();
    t.form.Adr_Status_Cde.set_caption(Idle_Caption);
    t.form.Start_Bus_Cmd.set_visible(true);
    for (int adr = 1; adr <= state.Adr_Count && adr <= 128; ++adr)
        t.form.Adr_Box(adr).set_back_color(Found_Color);
    set_tick_interval(t);
    set_task(state, Task::Probe_Interface);
    t.form.Current_Operation_Lbl.set_caption(Bus_Form::Waiting_Operation);
    state.Grid_Locked.set(false);
    set_phase(Phase::Idle);
    if (state.Adr_Count > 0) t.form.Adr_Status_Cde.set_visible(true);
    if (was_running) t.record.simulation_stopped();
}
