#include "detector/mode.h"

#include "engine/requests.h"
#include "engine/tempo.h"
#include "model/tool.h"

namespace {

constexpr uint8_t Optical_Off = 0x02;
constexpr uint8_t Thermal_Off = 0x01;

constexpr uint8_t Mode_Set_Command = 0x96;
constexpr uint8_t Mode_Commit_Command = 0x85;

// The boxes show `mode` again, without a write: a click whose write is dropped must not leave
// them showing a mode the detector does not have.
void show_mode(Tool& t, uint8_t mode) {
    t.state.Check_Lock = true;
    t.state.Sensor_Mode = mode;
    t.form.Opto_Check.set_value(mode & Optical_Off ? 0 : 1);
    t.form.Thermo_Check.set_value(mode & Thermal_Off ? 0 : 1);
    t.state.Check_Lock = false;
}

// The box value and Sensor_Mode change at once; only the write waits for the bus. It is
// tied to the detector the boxes were showing when clicked.
void request_mode_write(Tool& t, uint8_t before) {
    clear_run_summary(t);
    const uint8_t adr = t.state.Sel_Adr;
    const uint8_t mode = t.state.Sensor_Mode;
    t.link.run_request([&t, adr, mode, before] {
        // The panel is hidden while the simulation runs, and a newer selection is read afresh:
        // in both cases the boxes clicked no longer stand for Sel_Adr. A running search keeps
        // the bus.
        if (t.state.Simulation_Active || t.state.Sel_Adr != adr || search_under_way(t))
            return show_mode(t, before);
        // A readout that ran meanwhile reloads Sensor_Mode; the user's choice is what is written.
        t.state.Sensor_Mode = mode;
        set_task(t.state, Task::Mode_Write);
    });
}

void sensor_check_click(Tool& t, Control& box, const Control& other, uint8_t off_bit) {
    if (t.state.Check_Lock) return;
    const uint8_t before = t.state.Sensor_Mode;
    // From a grid click until its readout starts, the rows are hidden and the boxes still show
    // the previous detector's mode: a change made then would be written to the new address.
    if (!t.panel_filled) return show_mode(t, before);
    if (box.Value() == 0) {
        if (other.Value() == 0) {
            if (t.dialogs)
                t.state.Last_Result = t.dialogs->msg_box(
                    QStringLiteral("Il doit y avoir au moins un capteur activé !"), Msg_Information,
                    QStringLiteral("Sélection Capteur"));
            // Raises Click again, which clears the bit and asks for the write itself.
            box.set_value(1);
        } else {
            t.state.Sensor_Mode |= off_bit;
        }
    } else {
        t.state.Sensor_Mode &= static_cast<uint8_t>(~off_bit);
    }
    request_mode_write(t, before);
}

} // namespace

void Opto_Check_Click(Tool& t) {
    sensor_check_click(t, t.form.Opto_Check, t.form.Thermo_Check, Optical_Off);
}

void Thermo_Check_Click(Tool& t) {
    sensor_check_click(t, t.form.Thermo_Check, t.form.Opto_Check, Thermal_Off);
}

void Mode_Write(Tool& t) {
    Program_State& state = t.state;
    // Only the two element bits go to the detector, and never both at once: both set is taken
    // as thermal off, as the readout does.
    uint8_t mode = state.Sensor_Mode & (Optical_Off | Thermal_Off);
    if (mode == (Optical_Off | Thermal_Off)) mode = Thermal_Off;
    const uint8_t adr = state.Sel_Adr;
    state.Last_Result = t.link.Send_Frame(Mode_Set_Command, adr, mode, true, false);
    const bool set = t.link.last_reply().accepted();
    Tempo_Wait(t, 100);
    state.Last_Result = t.link.Send_Frame(Mode_Commit_Command, adr, 0x00, true, false);
    t.record.mode_written(adr, mode, set && t.link.last_reply().accepted());
    Tempo_Wait(t, 50);
    set_task(state, Task::Read_Identity);
}

void Value_Lbl_Click(Tool&, int) {}

void Value_Lbl_MouseMove(Tool& t, int) {
    t.screen.set_mouse_pointer(Screen_Pointer::Default);
}

void Param_Lbl_Click(Tool& t, int) {
    t.screen.set_mouse_pointer(Screen_Pointer::Default);
}
