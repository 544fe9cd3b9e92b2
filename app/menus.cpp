#include "app/menus.h"

#include "addresses/search.h"
#include "app/numeric_text.h"
#include "app/settings.h"
#include "detector/simulation.h"
#include "engine/com_port.h"
#include "engine/requests.h"
#include "model/tool.h"

void Form_KeyDown(Tool& t, int key_code, int /*shift*/) {
    if (key_code == vbKeyF5 && t.F.Start_Bus_Cmd.Visible())
        Start_Bus_Cmd_Click(t);
    else if (key_code == vbKeyF9 && t.F.Adr_Status_Cde.Visible())
        Adr_Status_Cde_Click(t);
}

void Serial_Com_Port_Mnu_Click(Tool& t) {
    if (!t.Dlg) return;
    int port = 0;
    for (;;) {
        const QString answer =
            t.Dlg->Input_Box(QString::fromUtf8("Saisir N° de port série (1 à 16) SVP:"),
                             QStringLiteral("PORT SERIE"), QString::number(t.S.Com_Port));
        // The window may have been closed while the box was open: nothing is left to set.
        if (t.S.Quit_Flag) return;
        if (Round_To_Byte(Leading_Number(answer), &port) && port >= 1 && port <= 16) break;
        t.S.Last_Result = t.Dlg->Msg_Box(QStringLiteral("Valeur entre 1 et 16 SVP..."),
                                         vbInformation, QStringLiteral("ERREUR"));
        if (t.S.Quit_Flag) return;
    }
    t.S.Com_Port = static_cast<uint8_t>(port);
    Write_Config(t);
    // Reopening the port in the middle of an exchange would hand that exchange the new port's
    // bytes: it waits for the running step to end.
    Tool* tp = &t;
    t.Link.Run_Request([tp] {
        End_Operation_For_Reopening(*tp);
        Open_Com_Port(*tp);
    });
}

void End_Operation_For_Reopening(Tool& t) {
    // The opening sends the task to state 1, which would leave a search or a simulation with the
    // grid locked, its buttons hidden and its captions up for good: it ends first, as it ends
    // itself (neither end step talks to the board).
    if (t.S.Task_State == Task::Search_Addresses)
        Search_Cut_Short(t, QStringLiteral("port rouvert"));
    if (Search_Under_Way(t)) Search_End(t);
    if (t.S.Simulation_Active) Stop_Simulation_Now(t);
}

void Phase_Option_Click(Tool& t, int index) {
    t.S.Phase_Number = static_cast<uint8_t>(index);
    Write_Config(t);
    t.S.Phase_Code = index == 1 ? 1 : 8;
}

void Status_Frame_MouseMove(Tool& t) {
    t.Screen.setMousePointer(Screen_Pointer::Default);
}

void About_Mnu_Click(Tool& t) {
    if (t.Dlg) t.Dlg->Show_About();
}
