#include "addresses/grid.h"

#include "engine/requests.h"
#include "model/tool.h"

namespace {

// What the user sees of a click, at once, even while a step is under way: the rows hidden, the
// panel captioned and placed beside the cell, the LED buttons hidden until the readout ends.
void Open_Panel(Tool& t, int index) {
    Bus_Form& f = t.F;
    for (int r = f.Param_Lbl.LBound(); r <= f.Param_Lbl.UBound(); ++r) {
        f.Param_Lbl(r).setVisible(false);
        f.Value_Lbl(r).setVisible(false);
    }
    f.Status_Frame.setCaption(QStringLiteral("Position ") +
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

    f.Led_On_Cde.setVisible(false);
    f.Led_Off_Cde.setVisible(false);
    panel.setVisible(true);
}

// The selection and the readout, once the bus is free.
void Select_Cell(Tool& t, int index) {
    // A search may have started between the click and now.
    if (t.S.Grid_Locked) return;
    t.S.Sel_Adr = static_cast<uint8_t>(index);
    // A readout that ended meanwhile, stopped by this click, has shown them again.
    t.F.Led_On_Cde.setVisible(false);
    t.F.Led_Off_Cde.setVisible(false);
    t.S.Check_Lock = false;
    t.S.Task_State = Task::Read_Identity;
}

} // namespace

void Adr_Box_Click(Tool& t, int index) {
    if (t.S.Grid_Locked || index < 1 || index > 128) return;
    // Counted now, not when the selection is made: a readout under way sees it and stops
    // before it shows another detector's values under the new address.
    ++t.S.Selection_Count;
    Open_Panel(t, index);
    t.Link.Run_Request([&t, index] { Select_Cell(t, index); });
}
