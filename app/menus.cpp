#include "app/menus.h"

#include "app/adapters.h"

#include "addresses/led_walk.h"
#include "addresses/read_all.h"
#include "addresses/search.h"
#include "app/numeric_text.h"
#include "app/settings.h"
#include "detector/simulation.h"
#include "engine/com_port.h"
#include "engine/requests.h"
#include "model/tool.h"

void Form_KeyDown(Tool& t, int key_code, int /*shift*/) {
    // Each key acts only while its button shows.
    if (key_code == Key_F5 && t.form.Start_Bus_Cmd.Visible()) // as designed
        Start_Bus_Cmd_Click(t);
    else if (key_code == Key_F9 && t.form.Adr_Status_Cde.Visible()) // as designed
        Adr_Status_Cde_Click(t);
    else if (key_code == Key_Escape) {
        t.read_all.stop();
        t.led_walk.stop();
    } else if (key_code == Key_V) {
        Led_Seen_Key(t);
    }
}

void Serial_Com_Port_Mnu_Click(Tool& t) {
    if (!t.dialogs) return;
    int port = 0;
    for (;;) {
        const QString answer =
            t.dialogs->input_box(QString::fromUtf8("Saisir N° de port série (1 à 16) SVP:"),
                                 QStringLiteral("PORT SERIE"), QString::number(t.state.Com_Port));
        // The window may have been closed while the box was open: nothing is left to set.
        if (t.state.Quit_Flag) return;
        if (round_to_byte(leading_number(answer), &port) && port >= 1 && port <= 16) break;
        t.state.Last_Result = t.dialogs->msg_box(QStringLiteral("Valeur entre 1 et 16 SVP..."),
                                                 Msg_Information, QStringLiteral("ERREUR"));
        if (t.state.Quit_Flag) return;
    }
    t.state.Com_Port = static_cast<uint8_t>(port);
    // A port chosen here replaces the one given on the command line or the adapter chosen by
    // name, and is kept.
    t.port_for_run = {};
    forget_adapter();
    if (Serial_Port* p = t.link.Comm1()) p->set_device({});
    Write_Config(t);
    // Reopening the port in the middle of an exchange would hand that exchange the new port's
    // bytes: it waits for the running step to end.
    Tool* tp = &t;
    t.link.run_request([tp] {
        end_operation_for_reopening(*tp);
        Open_Com_Port(*tp);
    });
}

void end_operation_for_reopening(Tool& t) {
    // The opening sends the task to state 1, which would leave a search or a simulation with the
    // grid locked, its buttons hidden and its captions up for good: it ends first, as it ends
    // itself (neither end step talks to the board).
    another_operation_starts(t);
    if (t.state.Task_State == Task::Search_Addresses)
        search_cut_short(t, QStringLiteral("port rouvert"));
    if (search_under_way(t)) Search_End(t);
    t.simulation.stop_now();
}

void Phase_Option_Click(Tool& t, int index) {
    t.state.Phase_Number = static_cast<uint8_t>(index);
    Write_Config(t);
    t.state.Phase_Code = phase_code(index);
}

void Status_Frame_MouseMove(Tool& t) {
    t.screen.set_mouse_pointer(Screen_Pointer::Default);
}

void About_Mnu_Click(Tool& t) {
    if (t.dialogs) t.dialogs->show_about();
}
