#include "detector/simulation.h"

#include "engine/connection.h"
#include "engine/led.h"
#include "engine/requests.h"
#include "engine/tempo.h"
#include "model/tool.h"

namespace {

const QString Idle_Caption = QStringLiteral("ETAT DES ADRESSES (F9)");
const QString Stop_Caption = QStringLiteral("ARRÊT SIMULATION");
const QString Running_Operation = QStringLiteral("SIMULATION GESTION BUS PAR ECS");
const QString Waiting_Operation = QStringLiteral("Attente Commande");

constexpr Vb_Color Found_Color = RGB(128, 128, 255);
constexpr Vb_Color Com_Fault_Color = RGB(255, 255, 0);
constexpr Vb_Color Alarm_Color = RGB(255, 0, 0);
constexpr Vb_Color Point_Fault_Color = RGB(255, 128, 0);
constexpr Vb_Color Standby_Color = RGB(0, 255, 0);

constexpr uint8_t Poll_Command = 0x10;
constexpr uint8_t State_Alarm = 0x01;
constexpr uint8_t State_Point_Fault = 0x08;

// As many polls in a row without a byte as the probe allows failures once connected.
constexpr int Silent_Polls_For_Disconnection = 3;

// A board that stops answering during a run would leave the panel green while every cell turns
// yellow one by one. Polls that get no byte at all, in a row, declare it gone, as the probe does;
// polling goes on, and the first answer shows the board connected again. Its version is read
// again by the probe once the run is over.
void Watch_Board(Tool& t, bool heard) {
    if (heard) {
        t.Silent_Polls = 0;
        if (!t.S.Connected) {
            t.F.Connection_Lbl.setCaption(QString::fromUtf8("Connecté "));
            t.F.Emul_Frm.setBackColor(RGB(0, 255, 0));
        }
        return;
    }
    if (++t.Silent_Polls == Silent_Polls_For_Disconnection) Declare_Disconnection(t);
}

// A run that ends before its first poll has not switched it off: it is still the tool's.
void Keep_Led_Lit_Before_Run(Tool& t) {
    if (t.Led_Lit_Before_Run == 0) return;
    t.S.Led_Address = t.Led_Lit_Before_Run;
    t.Led_Lit_Before_Run = 0;
}

void Show_Legend(Tool& t, bool visible) {
    for (int i = 0; i <= 3; ++i) {
        t.F.Lgd_Lbl(i).setVisible(visible);
        t.F.Lgd_Shp(i).setVisible(visible);
    }
}

void Set_Tick_Interval(Tool& t) {
    // Setting the interval of a running QTimer restarts its count; only do it when it changes.
    if (t.F.Timer_Tache.interval() != Tick_Ms(t)) t.F.Timer_Tache.setInterval(Tick_Ms(t));
}

// The button's caption and Simulation_Active change together, so that a click always does what
// the caption shown at that moment says, even when the bus part of an earlier click is still
// waiting for the running step to end.
void Start_Simulation(Tool& t) {
    t.F.Status_Frame.setVisible(false);
    t.Screen.setMousePointer(Screen_Pointer::Default);
    Show_Legend(t, true);
    t.F.Start_Bus_Cmd.setVisible(false);
    t.F.Adr_Status_Cde.setCaption(Stop_Caption);
    t.F.Current_Operation_Lbl.setCaption(Running_Operation);
    Set_Tick_Interval(t);
    t.S.Grid_Locked = true;
    t.S.Sim_Address = 1;
    t.S.Simulation_Active = true;
    // The tool keeps at most one LED lit: the one lit before the run is switched off by its first
    // poll, which cannot happen in this handler.
    t.Led_Lit_Before_Run = t.S.Led_Address;
    t.S.Led_Address = 0;
    t.S.Alarm_Latch.fill(false);
    t.Silent_Polls = 0;

    t.Link.Run_Request([&t] {
        // Only a search asked for just before this click hides the button: it has re-armed the
        // loop and rebuilt the grid, and polling would override it, so the run is called off.
        if (!t.F.Adr_Status_Cde.Visible()) {
            Show_Legend(t, false);
            t.F.Adr_Status_Cde.setCaption(Idle_Caption);
            t.S.Simulation_Active = false;
            Keep_Led_Lit_Before_Run(t);
            if (t.S.Task_State != Task::Search_Addresses) {
                // The re-arm failed: nothing else will unlock the grid or reset the status line.
                t.S.Grid_Locked = false;
                t.F.Current_Operation_Lbl.setCaption(Waiting_Operation);
            }
            return;
        }
        t.S.Task_State = Task::Simulation_Poll;
    });
}

void Stop_Simulation(Tool& t) {
    Show_Legend(t, false);
    // Deferred past the running step, whose own next state (the LED state after a new alarm,
    // the poll after the LED state) would otherwise replace the stop.
    t.Link.Run_Request([&t] { t.S.Task_State = Task::Simulation_Stop; });
}

} // namespace

void Adr_Status_Cde_Click(Tool& t) {
    if (t.S.Simulation_Active)
        Stop_Simulation(t);
    else
        Start_Simulation(t);
}

void Simulation_Poll(Tool& t) {
    Program_State& S = t.S;
    if (const uint8_t lit = t.Led_Lit_Before_Run) {
        t.Led_Lit_Before_Run = 0;
        // Refused or unanswered, it stays the tool's to switch off at the next alarm.
        if (!Switch_Led_Off(t, lit)) S.Led_Address = lit;
        Tempo_Wait(t, 100);
    }
    if (S.Sim_Address < 1 || S.Sim_Address > 128) S.Sim_Address = 1;
    const uint8_t adr = S.Sim_Address;

    const quint64 replies = t.Link.Link_Count.Replies;
    const bool answered =
        t.Link.Send_Frame(Poll_Command, adr, 0x00, false, false) && t.Link.Rx_Has(2);
    Watch_Board(t, t.Link.Link_Count.Replies != replies);
    bool alarm = false;
    Vb_Color colour;
    if (!answered || t.Link.Rx(0) != 0) {
        colour = Com_Fault_Color;
    } else if (t.Link.Rx(1) & State_Alarm) {
        colour = Alarm_Color;
        alarm = true;
    } else if (t.Link.Rx(1) & State_Point_Fault) {
        colour = Point_Fault_Color;
    } else {
        colour = Standby_Color;
    }
    t.F.Adr_Box(adr).setBackColor(colour);

    if (alarm && !S.Alarm_Latch(adr)) {
        S.Alarm_Latch(adr) = true;
        S.Led_Request = 1;
        S.Sel_Adr = adr;
        S.Task_State = Task::Led_Command;
    }

    S.Sim_Address = adr < S.Adr_Count ? static_cast<uint8_t>(adr + 1) : 1;
}

void Simulation_Stop(Tool& t) {
    Program_State& S = t.S;
    Keep_Led_Lit_Before_Run(t);
    t.F.Adr_Status_Cde.setCaption(Idle_Caption);
    t.F.Start_Bus_Cmd.setVisible(true);
    for (int adr = 1; adr <= S.Adr_Count && adr <= 128; ++adr)
        t.F.Adr_Box(adr).setBackColor(Found_Color);
    Set_Tick_Interval(t);
    S.Task_State = Task::Probe_Interface;
    t.F.Current_Operation_Lbl.setCaption(Waiting_Operation);
    S.Grid_Locked = false;
    S.Simulation_Active = false;
    if (S.Adr_Count > 0) t.F.Adr_Status_Cde.setVisible(true);
}

void Stop_Simulation_Now(Tool& t) {
    Show_Legend(t, false);
    Simulation_Stop(t);
}
