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
void Show_Mode(Tool& t, uint8_t mode) {
    t.S.Check_Lock = true;
    t.S.Sensor_Mode = mode;
    t.F.Opto_Check.setValue(mode & Optical_Off ? 0 : 1);
    t.F.Thermo_Check.setValue(mode & Thermal_Off ? 0 : 1);
    t.S.Check_Lock = false;
}

// The box value and Sensor_Mode change at once; only the write waits for the bus. It is
// tied to the detector the boxes were showing when clicked.
void Request_Mode_Write(Tool& t, uint8_t before) {
    const uint8_t adr = t.S.Sel_Adr;
    const uint8_t mode = t.S.Sensor_Mode;
    t.Link.Run_Request([&t, adr, mode, before] {
        // The panel is hidden while the simulation runs, and a newer selection is read afresh:
        // in both cases the boxes clicked no longer stand for Sel_Adr. A running search keeps
        // the bus.
        if (t.S.Simulation_Active || t.S.Sel_Adr != adr || Search_Under_Way(t))
            return Show_Mode(t, before);
        // A readout that ran meanwhile reloads Sensor_Mode; the user's choice is what is written.
        t.S.Sensor_Mode = mode;
        t.S.Task_State = Task::Mode_Write;
    });
}

void Sensor_Check_Click(Tool& t, Control& box, const Control& other, uint8_t off_bit) {
    if (t.S.Check_Lock) return;
    const uint8_t before = t.S.Sensor_Mode;
    // From a grid click until its readout starts, the rows are hidden and the boxes still show
    // the previous detector's mode: a change made then would be written to the new address.
    if (!t.F.Param_Lbl(0).Visible()) return Show_Mode(t, before);
    if (box.Value() == 0) {
        if (other.Value() == 0) {
            if (t.Dlg)
                t.S.Last_Result =
                    t.Dlg->Msg_Box(QStringLiteral("Il doit y avoir au moins un capteur activé !"),
                                   vbInformation, QStringLiteral("Sélection Capteur"));
            // Raises Click again, which clears the bit and asks for the write itself.
            box.setValue(1);
        } else {
            t.S.Sensor_Mode |= off_bit;
        }
    } else {
        t.S.Sensor_Mode &= static_cast<uint8_t>(~off_bit);
    }
    Request_Mode_Write(t, before);
}

} // namespace

void Opto_Check_Click(Tool& t) {
    Sensor_Check_Click(t, t.F.Opto_Check, t.F.Thermo_Check, Optical_Off);
}

void Thermo_Check_Click(Tool& t) {
    Sensor_Check_Click(t, t.F.Thermo_Check, t.F.Opto_Check, Thermal_Off);
}

void Mode_Write(Tool& t) {
    Program_State& S = t.S;
    // Only the two element bits go to the detector, and never both at once: both set is taken
    // as thermal off, as the readout does.
    uint8_t mode = S.Sensor_Mode & (Optical_Off | Thermal_Off);
    if (mode == (Optical_Off | Thermal_Off)) mode = Thermal_Off;
    S.Last_Result = t.Link.Send_Frame(Mode_Set_Command, S.Sel_Adr, mode, true, false);
    Tempo_Wait(t, 100);
    S.Last_Result = t.Link.Send_Frame(Mode_Commit_Command, S.Sel_Adr, 0x00, true, false);
    Tempo_Wait(t, 50);
    S.Task_State = Task::Read_Identity;
}

void Value_Lbl_Click(Tool&, int) {}

void Value_Lbl_MouseMove(Tool& t, int) {
    t.Screen.setMousePointer(Screen_Pointer::Default);
}

void Param_Lbl_Click(Tool& t, int) {
    t.Screen.setMousePointer(Screen_Pointer::Default);
}
