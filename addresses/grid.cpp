#include "addresses/grid.h"

#include "addresses/read_all.h"
#include "engine/requests.h"
#include "model/tool.h"

void open_panel(Tool& t, int index) {
    Bus_Form& f = t.form;
    t.panel_filled = false;
    for (int r = f.Param_Lbl.LBound(); r <= f.Param_Lbl.UBound(); ++r) {
        f.Param_Lbl(r).set_visible(false);
        f.Value_Lbl(r).set_visible(false);
    }
    f.Status_Frame.set_caption(QStringLiteral("Position ") +
                               QStringLiteral("%1").arg(index, 3, 10, QLatin1Char('0')));

    const Control& cell = f.Adr_Box(index);
    Control& panel = f.Status_Frame;
    const int centre_x = cell.Left() + cell.Width() / 2;
    const int centre_y = cell.Top() + cell.Height() / 2;
    int left = centre_x;
    int top = centre_y;
    if (left + panel.Width() > Bus_Form::ScaleWidth) left = centre_x - panel.Width();
    if (top + panel.Height() > Bus_Form::ScaleHeight) top = centre_y - panel.Height();
    panel.Move(left, top);

    f.Led_On_Cde.set_visible(false);
    f.Led_Off_Cde.set_visible(false);
    panel.set_visible(true);
}

namespace {

// The selection and the readout, once the bus is free.
void select_cell(Tool& t, int index) {
    // A search may have started between the click and now.
    if (t.state.Grid_Locked) return;
    t.state.Sel_Adr = static_cast<uint8_t>(index);
    // A readout that ended meanwhile, stopped by this click, has shown them again.
    t.form.Led_On_Cde.set_visible(false);
    t.form.Led_Off_Cde.set_visible(false);
    t.state.Check_Lock = false;
    set_task(t.state, Task::Read_Identity);
}

} // namespace

void Adr_Box_Click(Tool& t, int index) {
    if (t.state.Grid_Locked || index < 1 || index > 128) return;
    another_operation_starts(t);
    // Now, not when the selection is made: a readout under way stops before it shows another
    // detector's values under the new address.
    t.readouts.cancel();
    open_panel(t, index);
    t.link.run_request([&t, index] { select_cell(t, index); });
}
