#include "engine/requests.h"

#include "model/tool.h"

bool search_under_way(const Tool& t) {
    return t.state.Task_State == Task::Search_Addresses || t.state.Task_State == Task::Search_End;
}

void show_search_status(Tool& t, const QString& caption) {
    t.search_status = {caption, true};
    t.run_summary_shown = false;
    t.form.Cur_Adr_Lbl.set_caption(caption);
    t.form.Cur_Adr_Lbl.set_visible(true);
}

void show_run_summary(Tool& t, const QString& summary) {
    t.form.Cur_Adr_Lbl.set_caption(summary);
    t.form.Cur_Adr_Lbl.set_visible(true);
    t.run_summary_shown = true;
}

void clear_run_summary(Tool& t) {
    if (!t.run_summary_shown) return;
    t.run_summary_shown = false;
    t.form.Cur_Adr_Lbl.set_caption(t.search_status.caption);
    t.form.Cur_Adr_Lbl.set_visible(t.search_status.visible);
}
