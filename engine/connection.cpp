#include "engine/connection.h"

#include "app/tool.h"
#include "link/exchange.h"
#include "link/frames.h"

namespace {

const Vb_Color Green = RGB(0, 255, 0);
const Vb_Color Yellow = RGB(255, 255, 0);

} // namespace

void Reopen_Lost_Port(Tool& t) {
    Serial_Port* port = t.Comm1.get();
    if (!t.Port_Wanted || !port || port->PortOpen()) return;
    if (!port->Open(t.S.Com_Port)) return;
    ++t.Board_Epoch; // the device was away: what is behind it now may be another loop
    while (port->InBufferCount() > 0)
        t.S.Rx_Bytes = port->Input();
}

void Probe_Interface(Tool& t) {
    Program_State& S = t.S;
    Bus_Form& F = t.F;

    if (Send_Command(t, 0x01, 0x01)) {
        S.Task_State = S.Connected ? Task::Idle_Status : Task::Read_Version;
        return;
    }

    // Only a probe before any port opening meets 0 here; it declares the disconnection at once.
    if (S.Probe_Retries > 0) --S.Probe_Retries;
    if (S.Probe_Retries > 0) return;

    F.Cc_Lbl.setVisible(false);
    F.Connection_Lbl.setCaption(QString::fromUtf8("Deconnecté"));
    F.Version_Lbl.setVisible(false);
    F.Emul_Frm.setBackColor(Yellow);
    S.Connected = false;
    S.Probe_Retries = 3;
    ++t.Board_Epoch;
}

void Read_Version(Tool& t) {
    Program_State& S = t.S;
    Bus_Form& F = t.F;

    if (!Exchange_Byte(t, 0x02, 1) || !S.Rx_Has(1)) return;
    const uint8_t v = S.Rx(0);
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

    if (!Exchange_Byte(t, 0x08, 1) || !S.Rx_Has(1)) {
        S.Task_State = Task::Probe_Interface;
        return;
    }
    t.F.Cc_Lbl.setVisible((S.Rx(0) & 0x10) != 0);
}
