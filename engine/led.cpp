#include "engine/led.h"

#include "engine/requests.h"
#include "engine/tempo.h"
#include "model/tool.h"

namespace {

constexpr uint8_t Led_Code = 0x82;
constexpr uint8_t Led_On = 0x03;
constexpr uint8_t Led_Off = 0x00;

void show_mark(Tool& t, int address, bool visible) {
    if (decltype(t.form.Led_Shp)::LBound() <= address &&
        address <= decltype(t.form.Led_Shp)::UBound())
        t.form.Led_Shp(address).set_visible(visible);
}

} // namespace

bool switch_led_off(Tool& t, uint8_t address) {
    t.state.Last_Result = t.link.Send_Frame(Led_Code, address, Led_Off, true, false);
    show_mark(t, address, false);
    const bool accepted = t.link.last_reply().accepted();
    if (accepted) t.record.set_led(address, false);
    return accepted;
}

bool switch_led_on(Tool& t, uint8_t address) {
    const bool ok =
        t.link.Send_Frame(Led_Code, address, Led_On, true, false) && t.link.last_reply().accepted();
    if (ok) {
        show_mark(t, address, true);
        t.state.Led_Address = address;
        t.record.set_led(address, true);
    }
    return ok;
}

void Led_Command(Tool& t) {
    Program_State& state = t.state;

    if (state.Led_Request > 0) {
        if (state.Led_Address > 0) {
            switch_led_off(t, state.Led_Address);
            Tempo_Wait(t, 100);
        }
        if (t.link.Send_Frame(Led_Code, state.Sel_Adr, Led_On, true, false) &&
            t.link.last_reply().accepted()) {
            if (!state.Simulation_Active) show_mark(t, state.Sel_Adr, true);
            t.record.set_led(state.Sel_Adr, true);
        }
        state.Led_Address = state.Sel_Adr;
    } else {
        if (t.link.Send_Frame(Led_Code, state.Sel_Adr, Led_Off, true, false) &&
            t.link.last_reply().accepted()) {
            show_mark(t, state.Sel_Adr, false);
            t.record.set_led(state.Sel_Adr, false);
        }
    }
    Tempo_Wait(t, 100);
    set_task(state, state.Simulation_Active ? Task::Simulation_Poll : Task::Probe_Interface);
}

// A click while a step waits for its reply runs once that step has written its own next state,
// so the request is not overwritten.
void Led_On_Cde_Click(Tool& t) {
    clear_run_summary(t);
    t.link.run_request([&t] {
        if (search_under_way(t)) return;
        t.state.Led_Request = 1;
        set_task(t.state, Task::Led_Command);
    });
}

void Led_Off_Cde_Click(Tool& t) {
    clear_run_summary(t);
    t.link.run_request([&t] {
        if (search_under_way(t)) return;
        t.state.Led_Request = 0;
        set_task(t.state, Task::Led_Command);
    });
}
