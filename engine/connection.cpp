#include "engine/connection.h"

#include "engine/com_port.h"
#include "model/tool.h"

bool note_board_heard(Tool& t, bool heard) {
    // An exchange given up because the program is quitting tells nothing of the board.
    if (t.state.Quit_Flag) return false;
    const Serial_Port* port = t.link.Comm1();
    const bool open = port && port->PortOpen();
    // A port lost during the exchange is the line's fault, whatever came before.
    t.record.board_heard(heard && open, open);
    return heard && open;
}

void reopen_lost_port(Tool& t) {
    Serial_Port* port = t.link.Comm1();
    if (!t.port_wanted || !port || port->PortOpen()) return;
    open_device(t);
}

namespace {

// The board does not answer on the device the port was opened on. If COM<n> names another one
// now (a COM<n> link made after the tool fell back on /dev/ttyS<n-1>), that is the one meant.
void follow_port_name(Tool& t) {
    Serial_Port* port = t.link.Comm1();
    if (!t.port_wanted || !port || !port->PortOpen()) return;
    if (port->device_name(t.state.Com_Port) == t.port_device) return;
    port->close();
    open_device(t); // or tried again before each step, as a lost port is
}

} // namespace

void Probe_Interface(Tool& t) {
    Program_State& state = t.state;

    const bool answered = t.link.Send_Command(0x01, 0x01);
    note_board_heard(t, t.link.last_reply().heard);
    if (answered) {
        set_task(state, state.Connected ? Task::Idle_Status : Task::Read_Version);
        return;
    }

    follow_port_name(t);
    // Only a probe before any port opening meets 0 here; it declares the disconnection at once.
    if (state.Probe_Retries > 0) --state.Probe_Retries;
    if (state.Probe_Retries > 0) return;

    declare_disconnection(t);
}

void declare_disconnection(Tool& t) {
    t.board.set_short_circuit(false);
    t.board.set_answering(false);
    t.board.set_version(-1);
    t.state.Connected = false;
    t.state.Probe_Retries = 3;
    t.board.lost_sight();
}

void Read_Version(Tool& t) {
    Program_State& state = t.state;

    if (!t.link.Exchange_Byte(0x02, 1) || !t.link.rx_has(1)) return;
    const uint8_t v = t.link.rx(0);
    if (v < 0x30 || state.Connected) return;

    t.board.set_answering(true);
    t.board.set_version(v);
    state.Connected = true;
    state.Probe_Retries = 3;
    set_task(state, Task::Idle_Status);
}

void Idle_Status(Tool& t) {
    Program_State& state = t.state;

    if (!t.link.Exchange_Byte(0x08, 1) || !t.link.rx_has(1)) {
        set_task(state, Task::Probe_Interface);
        return;
    }
    note_board_heard(t, true);
    t.board.set_short_circuit((t.link.rx(0) & 0x10) != 0);
}
