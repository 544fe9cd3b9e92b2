#include "link/com_port.h"

#include "app/tool.h"
#include "link/tempo.h"

void Open_Com_Port(Tool& t) {
    Program_State& S = t.S;
    Bus_Form& F = t.F;

    F.Connection_Lbl.setCaption(QString::fromUtf8("Deconnecté"));
    F.Emul_Frm.setBackColor(RGB(255, 255, 0));
    F.Version_Lbl.setVisible(false);
    S.Connected = false;
    S.Task_State = Task::Probe_Interface;
    ++t.Board_Epoch; // another port, or the same one again: maybe another board

    t.Port_Wanted = false;
    Serial_Port* port = t.Comm1.get();
    if (port && port->PortOpen()) port->Close();

    if (!port || !port->Open(S.Com_Port)) {
        F.Timer_Tache.stop();
        const QString prompt = QString::fromUtf8("Le port Com") + QString::number(S.Com_Port) +
                               QString::fromUtf8(" n'existe pas ou n'est pas libre !");
        if (t.Dlg) S.Last_Result = t.Dlg->Msg_Box(prompt, vbExclamation, "Erreur Port Com");
        return;
    }
    t.Port_Wanted = true;

    while (port->InBufferCount() > 0)
        S.Rx_Bytes = port->Input();

    F.Timer_Tache.setInterval(Tick_Ms(t));
    if (!F.Timer_Tache.isActive()) F.Timer_Tache.start();
    S.Probe_Retries = 2;
    S.Task_Tick = false;
}
