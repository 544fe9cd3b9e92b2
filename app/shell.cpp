#include "app/shell.h"

#include "addresses/grid.h"
#include "addresses/search.h"
#include "app/bus_task.h"
#include "app/link_events.h"
#include "app/menus.h"
#include "app/settings.h"
#include "detector/mode.h"
#include "detector/simulation.h"
#include "engine/com_port.h"
#include "engine/led.h"
#include "engine/tempo.h"
#include "model/tool.h"

#include <QCoreApplication>
#include <QEventLoop>

namespace {

// Column of address n counted from the left: the rows alternate direction so that the
// addresses follow the loop in a serpentine.
int Column_From_Left(int n) {
    const int k = (n - 1) % 16;
    return ((n - 1) & 16) ? 15 - k : k;
}

int Row_Of(int n) {
    return (n - 1) / 16;
}

void Connect_Click(Tool& t, Control& c, void (*handler)(Tool&)) {
    Tool* tp = &t;
    QObject::connect(&c, &Control::Click, &t.F, [tp, handler] { handler(*tp); });
}

void Connect_Click(Tool& t, Control& c, void (*handler)(Tool&, int), int index) {
    Tool* tp = &t;
    QObject::connect(&c, &Control::Click, &t.F, [tp, handler, index] { handler(*tp, index); });
}

void Wire_Handlers(Tool& t) {
    // The form outlives every connection made here; a second load of the same form must not
    // double every handler.
    static const char* const wired = "kalvenor_handlers_wired";
    if (t.F.property(wired).toBool()) return;
    t.F.setProperty(wired, true);

    Bus_Form& f = t.F;
    Connect_Click(t, f.Start_Bus_Cmd, Start_Bus_Cmd_Click);
    Connect_Click(t, f.Adr_Status_Cde, Adr_Status_Cde_Click);
    for (int n = 1; n <= 128; ++n)
        Connect_Click(t, f.Adr_Box(n), Adr_Box_Click, n);
    Connect_Click(t, f.Led_On_Cde, Led_On_Cde_Click);
    Connect_Click(t, f.Led_Off_Cde, Led_Off_Cde_Click);
    Connect_Click(t, f.Opto_Check, Opto_Check_Click);
    Connect_Click(t, f.Thermo_Check, Thermo_Check_Click);
    for (int i = 1; i <= 2; ++i)
        Connect_Click(t, f.Phase_Option(i), Phase_Option_Click, i);
    Connect_Click(t, f.Close_Cmd, Close_Cmd_Click);
    for (int i = 0; i <= 15; ++i) {
        Connect_Click(t, f.Value_Lbl(i), Value_Lbl_Click, i);
        Connect_Click(t, f.Param_Lbl(i), Param_Lbl_Click, i);
    }
    Connect_Click(t, f.Serial_Com_Port_Mnu, Serial_Com_Port_Mnu_Click);
    Connect_Click(t, f.Quit_Mnu, Quit_Mnu_Click);
    Connect_Click(t, f.About_Mnu, About_Mnu_Click);

    Wire_Link_Events(t);

    // However the window goes (close box, Quit, the bus task after Quit), the program ends.
    Tool* tp = &t;
    QObject::connect(&f, &Bus_Form::unloaded, &f, [tp] { Form_QueryUnload(*tp); });
}

} // namespace

void Build_Grid(Tool& t) {
    Bus_Form& f = t.F;
    Control& first = f.Adr_Box(1);
    first.Move(first.Left(), first.Top(), 600, 400);
    for (int n = 2; n <= 128; ++n) {
        f.Adr_Box(n).copyFrom(first);
        f.Led_Shp(n).copyFrom(f.Led_Shp(1));
    }

    for (int n = 1; n <= 128; ++n) {
        Control& cell = f.Adr_Box(n);
        Control& led = f.Led_Shp(n);
        cell.setVisible(true);
        led.setVisible(false);
        cell.ZOrder();
        led.ZOrder();
        cell.setFontSize(7);
        // Placed from the size read back from the cell, so a resized cell keeps the layout.
        const int w = cell.Width();
        const int h = cell.Height();
        cell.Move((200 + w) * Column_From_Left(n) + 2 * w + 1100, (h * 3 / 2) * Row_Of(n) + h);
        cell.setCaption(QStringLiteral("%1\n???").arg(n, 3, 10, QLatin1Char('0')));
        t.S.Adr_Type[n - 1] = 0;
        cell.setBackColor(0x00C0C0C0);
        led.Move(cell.Left(), cell.Top());
    }
}

void Draw_Loop(Tool& t) {
    Bus_Form& f = t.F;
    for (int j = 2; j <= 8; ++j)
        f.Hor_Bus_Line(j).copyFrom(f.Hor_Bus_Line(1));
    for (int j = 2; j <= 7; ++j)
        f.Ver_Bus_Line(j).copyFrom(f.Ver_Bus_Line(1));

    const Control& first = f.Adr_Box(1);
    const int w = first.Width();
    const int h = first.Height();
    const int right_end = f.Adr_Box(16).Left() + w * 3 / 2;
    for (int j = 1; j <= 8; ++j) {
        Control& line = f.Hor_Bus_Line(j);
        const int y = f.Adr_Box(16 * j).Top() + h / 2;
        int x1 = first.Left() - w / 2;
        if (j == 1)
            x1 = first.Left() - w; // starts at the right edge of the interface panel
        else if (j == 8)
            x1 = first.Left() + w / 2; // ends in the middle of the last address's cell
        line.setVisible(true);
        line.setLine(x1, y, right_end, y);
    }
    for (int j = 1; j <= 7; ++j) {
        Control& line = f.Ver_Bus_Line(j);
        const int x = (j % 2) ? f.Hor_Bus_Line(1).X2() : f.Hor_Bus_Line(2).X1();
        const int y1 = f.Hor_Bus_Line(j).Y1();
        line.setVisible(true);
        line.setLine(x, y1, x, y1 + h * 3 / 2);
    }
}

void Place_Emul_Frm(Tool& t) {
    Bus_Form& f = t.F;
    const Control& first = f.Adr_Box(1);
    Control& panel = f.Emul_Frm;
    panel.Move(f.Hor_Bus_Line(1).X1() - panel.Width(),
               first.Top() + first.Height() / 2 - panel.Height() / 2);
}

void Form_Load(Tool& t) {
    Wire_Handlers(t);

    Build_Grid(t);
    Draw_Loop(t);
    Place_Emul_Frm(t);
    for (int i = 0; i <= 3; ++i) {
        t.F.Lgd_Lbl(i).setVisible(false);
        t.F.Lgd_Shp(i).setVisible(false);
    }
    t.S.Com_Port = 1;
    t.S.Adr_Count = 0;
    t.F.Adr_Status_Cde.setVisible(false);
    Read_Config(t);
    Open_Com_Port(t);
    // The window is designed with phase 2 selected: with phase 1 stored, this selection raises
    // Phase_Option_Click, which saves the settings again.
    if (t.S.Phase_Number == 1 || t.S.Phase_Number == 2)
        t.F.Phase_Option(t.S.Phase_Number).setValue(1);
    t.S.Phase_Code = t.S.Phase_Number == 1 ? 1 : 8;
    t.S.Simulation_Active = false;
}

void Main_Loop_Pass(Tool& t) {
    // Once Quit is raised nothing may be left to wake a blocking wait (the timers stop with the
    // window), so a pass that starts after it only handles what is already pending; so does one
    // whose tick came during the last step, which is followed at once by the next.
    QCoreApplication::processEvents(t.S.Quit_Flag || t.S.Task_Tick ? QEventLoop::AllEvents
                                                                   : QEventLoop::WaitForMoreEvents);
    t.S.Last_Result = t.F.Unloaded() ? 0 : 1; // windows still open
    if (t.S.Task_Tick && !t.S.Quit_Flag) {
        t.S.Task_Tick = false;
        Bus_Task(t);
    }
}

void Main_Loop(Tool& t) {
    do {
        Main_Loop_Pass(t);
    } while (!t.S.Quit_Flag);
}

void Form_QueryUnload(Tool& t) {
    t.S.Quit_Flag = true;
    t.F.Unload();
}

void Quit_Mnu_Click(Tool& t) {
    t.S.Task_State = Task::Quit;
    t.S.Quit_Flag = true;
    t.F.Unload();
}

void Close_Cmd_Click(Tool& t) {
    t.F.Status_Frame.setVisible(false);
    t.Screen.setMousePointer(Screen_Pointer::Default);
}
