#include "app/shell.h"

#include "addresses/grid.h"
#include "addresses/led_walk.h"
#include "addresses/read_all.h"
#include "addresses/search.h"
#include "app/adapters.h"
#include "app/bus_task.h"
#include "app/journal.h"
#include "app/link_events.h"
#include "app/menus.h"
#include "app/plan.h"
#include "app/presenter.h"
#include "app/report_export.h"
#include "app/settings.h"
#include "app/site_menu.h"
#include "app/trace.h"
#include "app/visits.h"
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
int column_from_left(int n) {
    const int k = (n - 1) % 16;
    return ((n - 1) & 16) ? 15 - k : k;
}

int row_of(int n) {
    return (n - 1) / 16;
}

void connect_click(Tool& t, Control& c, void (*handler)(Tool&)) {
    Tool* tp = &t;
    QObject::connect(&c, &Control::Click, &t.form, [tp, handler] { handler(*tp); });
}

void connect_click(Tool& t, Control& c, void (*handler)(Tool&, int), int index) {
    Tool* tp = &t;
    QObject::connect(&c, &Control::Click, &t.form, [tp, handler, index] { handler(*tp, index); });
}

} // namespace

void wire_handlers(Tool& t) {
    // The form outlives every connection made here; a second load of the same form must not
    // double every handler.
    static const char* const wired = "kalvenor_handlers_wired";
    if (t.form.property(wired).toBool()) return;
    t.form.setProperty(wired, true);

    Bus_Form& f = t.form;
    connect_click(t, f.Start_Bus_Cmd, Start_Bus_Cmd_Click);
    connect_click(t, f.Adr_Status_Cde, Adr_Status_Cde_Click);
    for (int n = 1; n <= 128; ++n)
        connect_click(t, f.Adr_Box(n), Adr_Box_Click, n);
    connect_click(t, f.Led_On_Cde, Led_On_Cde_Click);
    connect_click(t, f.Led_Off_Cde, Led_Off_Cde_Click);
    connect_click(t, f.Opto_Check, Opto_Check_Click);
    connect_click(t, f.Thermo_Check, Thermo_Check_Click);
    for (int i = 1; i <= 2; ++i)
        connect_click(t, f.Phase_Option(i), Phase_Option_Click, i);
    connect_click(t, f.Close_Cmd, Close_Cmd_Click);
    for (int i = 0; i <= 15; ++i) {
        connect_click(t, f.Value_Lbl(i), Value_Lbl_Click, i);
        connect_click(t, f.Param_Lbl(i), Param_Lbl_Click, i);
    }
    connect_click(t, f.Serial_Com_Port_Mnu, Serial_Com_Port_Mnu_Click);
    connect_click(t, f.Read_All_Mnu, Read_All_Mnu_Click);
    connect_click(t, f.Led_Walk_Mnu, Led_Walk_Mnu_Click);
    connect_click(t, f.Import_Plan_Mnu, Import_Plan_Mnu_Click);
    connect_click(t, f.Compare_Mnu, Compare_Mnu_Click);
    connect_click(t, f.Adapters_Mnu, Adapters_Mnu_Click);
    connect_click(t, f.Visit_Compare_Mnu, Visit_Compare_Mnu_Click);
    connect_click(t, f.Report_Visit_Mnu, Report_Visit_Mnu_Click);
    connect_click(t, f.Visit_Marks_Mnu, Visit_Marks_Mnu_Click);
    connect_click(t, f.Site_New_Mnu, Site_New_Mnu_Click);
    connect_click(t, f.Site_Open_Mnu, Site_Open_Mnu_Click);
    for (int i = 1; i <= 4; ++i)
        connect_click(t, f.Site_Recent_Mnu(i), Site_Recent_Mnu_Click, i);
    connect_click(t, f.Export_Report_Mnu, Export_Report_Mnu_Click);
    connect_click(t, f.Trace_Mnu, Trace_Mnu_Click);
    connect_click(t, f.Journal_Mnu, Journal_Mnu_Click);
    connect_click(t, f.Quit_Mnu, Quit_Mnu_Click);
    connect_click(t, f.About_Mnu, About_Mnu_Click);

    wire_link_events(t);
    wire_presenter(t);
    wire_site(t);

    // The cells' marks and tips follow what the record learns.
    Tool* tr = &t;
    QObject::connect(&t.record, &Loop_Record::changed, &f,
                     [tr](int address) { show_cell_marks(*tr, address); });

    // However the window goes (close box, Quit, the bus task after Quit), the program ends.
    Tool* tp = &t;
    QObject::connect(&f, &Bus_Form::unloaded, &f, [tp] { Form_QueryUnload(*tp); });
}

void build_grid(Tool& t) {
    Bus_Form& f = t.form;
    Control& first = f.Adr_Box(1);
    first.Move(first.Left(), first.Top(), 600, 400);
    for (int n = 2; n <= 128; ++n) {
        f.Adr_Box(n).copy_from(first);
        f.Led_Shp(n).copy_from(f.Led_Shp(1));
    }

    for (int n = 1; n <= 128; ++n) {
        Control& cell = f.Adr_Box(n);
        Control& led = f.Led_Shp(n);
        cell.set_visible(true);
        led.set_visible(false);
        cell.ZOrder();
        led.ZOrder();
        cell.set_font_size(7);
        // Placed from the size read back from the cell, so a resized cell keeps the layout.
        const int w = cell.Width();
        const int h = cell.Height();
        cell.Move((200 + w) * column_from_left(n) + 2 * w + 1100, (h * 3 / 2) * row_of(n) + h);
        cell.set_caption(QStringLiteral("%1\n???").arg(n, 3, 10, QLatin1Char('0')));
        t.state.Adr_Type[n - 1] = 0;
        cell.set_back_color(0x00C0C0C0);
        led.Move(cell.Left(), cell.Top());
        Control& mark = f.Plan_Mark(n);
        mark.Move(cell.Left() + w - mark.Width(), cell.Top());
        mark.ZOrder();
    }
}

void draw_loop(Tool& t) {
    Bus_Form& f = t.form;
    for (int j = 2; j <= 8; ++j)
        f.Hor_Bus_Line(j).copy_from(f.Hor_Bus_Line(1));
    for (int j = 2; j <= 7; ++j)
        f.Ver_Bus_Line(j).copy_from(f.Ver_Bus_Line(1));

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
        line.set_visible(true);
        line.set_line(x1, y, right_end, y);
    }
    for (int j = 1; j <= 7; ++j) {
        Control& line = f.Ver_Bus_Line(j);
        const int x = (j % 2) ? f.Hor_Bus_Line(1).X2() : f.Hor_Bus_Line(2).X1();
        const int y1 = f.Hor_Bus_Line(j).Y1();
        line.set_visible(true);
        line.set_line(x, y1, x, y1 + h * 3 / 2);
    }
}

void place_emul_frm(Tool& t) {
    Bus_Form& f = t.form;
    const Control& first = f.Adr_Box(1);
    Control& panel = f.Emul_Frm;
    panel.Move(f.Hor_Bus_Line(1).X1() - panel.Width(),
               first.Top() + first.Height() / 2 - panel.Height() / 2);
}

namespace {

// The port of the command line in place of the settings file's, for this run.
void use_port_for_run(Tool& t) {
    Tool::Port_For_Run& run = t.port_for_run;
    if (!run.active()) return;
    run.settings_port = t.state.Com_Port;
    if (run.number) t.state.Com_Port = uint8_t(run.number);
    if (Serial_Port* port = t.link.Comm1()) port->set_device(run.path);
}

} // namespace

void Form_Load(Tool& t) {
    wire_handlers(t);

    build_grid(t);
    draw_loop(t);
    place_emul_frm(t);
    for (int i = 0; i <= 3; ++i) {
        t.form.Lgd_Lbl(i).set_visible(false);
        t.form.Lgd_Shp(i).set_visible(false);
    }
    t.state.Com_Port = 1;
    t.state.Adr_Count = 0;
    t.form.Adr_Status_Cde.set_visible(false);
    Read_Config(t);
    use_port_for_run(t);
    Open_Com_Port(t);
    // The window is designed with phase 2 selected: with phase 1 stored, this selection raises
    // Phase_Option_Click, which saves the settings again.
    if (t.state.Phase_Number == 1 || t.state.Phase_Number == 2)
        t.form.Phase_Option(t.state.Phase_Number).set_value(1);
    t.state.Phase_Code = phase_code(t.state.Phase_Number);
}

void main_loop_pass(Tool& t) {
    // Once Quit is raised nothing may be left to wake a blocking wait (the timers stop with the
    // window), so a pass that starts after it only handles what is already pending; so does one
    // whose tick came during the last step, which is followed at once by the next.
    QCoreApplication::processEvents(t.state.Quit_Flag || t.state.Task_Tick
                                        ? QEventLoop::AllEvents
                                        : QEventLoop::WaitForMoreEvents);
    t.state.Last_Result = t.form.is_unloaded() ? 0 : 1; // windows still open
    if (t.state.Task_Tick && !t.state.Quit_Flag) {
        t.state.Task_Tick = false;
        Bus_Task(t);
    }
}

void main_loop(Tool& t) {
    do {
        main_loop_pass(t);
    } while (!t.state.Quit_Flag);
}

void Form_QueryUnload(Tool& t) {
    t.state.Quit_Flag = true;
    t.form.unload();
}

void Quit_Mnu_Click(Tool& t) {
    set_task(t.state, Task::Quit);
    t.state.Quit_Flag = true;
    t.form.unload();
}

void Close_Cmd_Click(Tool& t) {
    t.form.Status_Frame.set_visible(false);
    t.screen.set_mouse_pointer(Screen_Pointer::Default);
}
