#include "engine/led.h"

#include "engine/requests.h"
#include "engine/tempo.h"
#include "model/tool.h"

namespace {

constexpr uint8_t Led_Code = 0x82;
constexpr uint8_t Led_On = 0x03;
constexpr uint8_t Led_Off = 0x00;

void show_mark(Tool& t, int address, bool visible) {
    if (decltype(t.F.Led_Shp)::LBound() <= address && address <= decltype(t.F.Led_Shp)::UBound())
        t.F.Led_Shp(address).setVisible(visible);
}

bool accepted(const Tool& t) {
    return t.Link.Rx_Has(1) && t.Link.Rx(0) == 0;
}

} // namespace

bool Switch_Led_Off(Tool& t, uint8_t address) {
    const bool ok = t.Link.Send_Frame(Led_Code, address, Led_Off, true, false);
    t.S.Last_Result = ok;
    show_mark(t, address, false);
    return ok && accepted(t);
}

void Led_Command(Tool& t) {
    Program_State& S = t.S;

    if (S.Led_Request > 0) {
        if (S.Led_Address > 0) {
            Switch_Led_Off(t, S.Led_Address);
            Tempo_Wait(t, 100);
        }
        const bool ok = t.Link.Send_Frame(Led_Code, S.Sel_Adr, Led_On, true, false);
        if (ok && accepted(t) && !S.Simulation_Active) show_mark(t, S.Sel_Adr, true);
        S.Led_Address = S.Sel_Adr;
    } else {
        const bool ok = t.Link.Send_Frame(Led_Code, S.Sel_Adr, Led_Off, true, false);
        if (ok && accepted(t)) show_mark(t, S.Sel_Adr, false);
    }
    Tempo_Wait(t, 100);
    S.Task_State = S.Simulation_Active ? Task::Simulation_Poll : Task::Probe_Interface;
}

// A click while a step waits for its reply runs once that step has written its own next state,
// so the request is not overwritten.
void Led_On_Cde_Click(Tool& t) {
    t.Link.Run_Request([&t] {
        if (Search_Under_Way(t)) return;
        t.S.Led_Request = 1;
        t.S.Task_State = Task::Led_Command;
    });
}

void Led_Off_Cde_Click(Tool& t) {
    t.Link.Run_Request([&t] {
        if (Search_Under_Way(t)) return;
        t.S.Led_Request = 0;
        t.S.Task_State = Task::Led_Command;
    });
}
