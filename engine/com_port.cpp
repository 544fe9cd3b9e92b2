#include "engine/com_port.h"

#include "engine/tempo.h"
#include "model/tool.h"

#include <QFileInfo>

namespace {

constexpr int Retry_Ms = 2000;

// Which device COM n is, shown on the interface panel: the link and where it leads.
void Show_Device(Tool& t, bool open) {
    QString where = t.Port_Device;
    const QFileInfo info(where);
    if (info.isSymLink()) where += QString::fromUtf8(" → ") + info.symLinkTarget();
    QString text = QStringLiteral("Port COM%1 : ").arg(t.S.Com_Port) + where;
    if (!open) text += QString::fromUtf8(" (non ouvert, nouvel essai automatique)");
    t.F.Emul_Frm.setToolTipText(text);
}

void Start_Task_Tick(Tool& t) {
    t.F.Timer_Tache.setInterval(Tick_Ms(t));
    if (!t.F.Timer_Tache.isActive()) t.F.Timer_Tache.start();
    t.S.Probe_Retries = 2;
    t.S.Task_Tick = false;
}

} // namespace

bool Open_Device(Tool& t) {
    Serial_Port* port = t.Link.Comm1();
    if (!port) return false;
    // Named at each opening: a COM<n> link that has appeared since wins over the fallback.
    t.Port_Device = port->Device_Name(t.S.Com_Port);
    const bool open = port->Open(t.S.Com_Port);
    Show_Device(t, open);
    if (!open) return false;
    ++t.Board_Epoch; // another device, or the same one again: maybe another board
    t.Link.Drain();
    return true;
}

void Open_Com_Port(Tool& t) {
    Program_State& S = t.S;
    Bus_Form& F = t.F;

    F.Connection_Lbl.setCaption(QString::fromUtf8("Deconnecté"));
    F.Emul_Frm.setBackColor(RGB(255, 255, 0));
    F.Version_Lbl.setVisible(false);
    S.Connected = false;
    S.Task_State = Task::Probe_Interface;

    t.Port_Wanted = false;
    t.Port_Retry.stop();
    Serial_Port* port = t.Link.Comm1();
    if (port && port->PortOpen()) port->Close();

    if (!Open_Device(t)) {
        F.Timer_Tache.stop();
        // No probe will run to declare the board gone and hide it.
        F.Cc_Lbl.setVisible(false);
        const QString prompt = QString::fromUtf8("Le port Com") + QString::number(S.Com_Port) +
                               QString::fromUtf8(" n'existe pas ou n'est pas libre !");
        if (t.Dlg) S.Last_Result = t.Dlg->Msg_Box(prompt, vbExclamation, "Erreur Port Com");
        // Once the box is read: the adapter may be plugged in, or the rights given, later.
        if (!S.Quit_Flag) t.Port_Retry.start(Clock_Ms(t, Retry_Ms));
        return;
    }
    t.Port_Wanted = true;
    Start_Task_Tick(t);
}

void Port_Retry_Timer_Timer(Tool& t) {
    if (t.S.Quit_Flag || t.Port_Wanted) {
        t.Port_Retry.stop();
        return;
    }
    // Not under a running step: its exchanges find the port closed and fail as they should.
    if (!t.Link.Bus_Free() || !Open_Device(t)) return;
    t.Port_Retry.stop();
    t.Port_Wanted = true;
    Start_Task_Tick(t);
}
