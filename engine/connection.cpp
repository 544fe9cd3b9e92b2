#include "engine/connection.h"

#include "engine/com_port.h"
#include "model/tool.h"

namespace {

const Vb_Color Green = RGB(0, 255, 0);
const Vb_Color Yellow = RGB(255, 255, 0);

} // namespace

void Reopen_Lost_Port(Tool& t) {
    Serial_Port* port = t.Link.Comm1();
    if (!t.Port_Wanted || !port || port->PortOpen()) return;
    Open_Device(t);
}

namespace {

// The board does not answer on the device the port was opened on. If COM<n> names another one
// now (a COM<n> link made after the tool fell back on /dev/ttyS<n-1>), that is the one meant.
void Follow_Port_Name(Tool& t) {
    Serial_Port* port = t.Link.Comm1();
    if (!t.Port_Wanted || !port || !port->PortOpen()) return;
    if (port->Device_Name(t.S.Com_Port) == t.Port_Device) return;
    port->Close();
    Open_Device(t); // or tried again before each step, as a lost port is
}

} // namespace

void Probe_Interface(Tool& t) {
    Program_State& S = t.S;

    if (t.Link.Send_Command(0x01, 0x01)) {
        S.Task_State = S.Connected ? Task::Idle_Status : Task::Read_Version;
        return;
    }

    Follow_Port_Name(t);
    // Only a probe before any port opening meets 0 here; it declares the disconnection at once.
    if (S.Probe_Retries > 0) --S.Probe_Retries;
    if (S.Probe_Retries > 0) return;

    Declare_Disconnection(t);
}

void Declare_Disconnection(Tool& t) {
    Bus_Form& F = t.F;
    F.Cc_Lbl.setVisible(false);
    F.Connection_Lbl.setCaption(QString::fromUtf8("Deconnecté"));
    F.Version_Lbl.setVisible(false);
    F.Emul_Frm.setBackColor(Yellow);
    t.S.Connected = false;
    t.S.Probe_Retries = 3;
    ++t.Board_Epoch;
}

void Read_Version(Tool& t) {
    Program_State& S = t.S;
    Bus_Form& F = t.F;

    if (!t.Link.Exchange_Byte(0x02, 1) || !t.Link.Rx_Has(1)) return;
    const uint8_t v = t.Link.Rx(0);
    if (v < 0x30 || S.Connected) return;

    F.Connection_Lbl.setCaption(QString::fromUtf8("Connecté "));
    F.Version_Lbl.setVisible(true);
    F.Version_Lbl.setCaption(QStringLiteral("(Ver.%1.%2)").arg(v / 16).arg(v % 16));
    F.Emul_Frm.setBackColor(Green);
    S.Connected = true;
    S.Probe_Retries = 3;
    S.Task_State = Task::Idle_Status;
}

void Idle_Status(Tool& t) {
    Program_State& S = t.S;

    if (!t.Link.Exchange_Byte(0x08, 1) || !t.Link.Rx_Has(1)) {
        S.Task_State = Task::Probe_Interface;
        return;
    }
    t.F.Cc_Lbl.setVisible((t.Link.Rx(0) & 0x10) != 0);
}
