#include "engine/requests.h"

#include "model/tool.h"

bool search_under_way(const Tool& t) {
    return t.state.Task_State == Task::Search_Addresses || t.state.Task_State == Task::Search_End;
}

void remember_status_before_run(Tool& t) {
    clear_run_summary(t);
    t.status_before_run = {t.form.Cur_Adr_Lbl.Caption(), t.form.Cur_Adr_Lbl.Visible(), false};
}

void show_run_summary(Tool& t, const QString& summary) {
    t.form.Cur_Adr_Lbl.set_caption(summary);
    t.form.Cur_Adr_Lbl.set_visible(true);
    t.status_before_run.summary_shown = true;
}

void clear_run_summary(Tool& t) {
    Tool::Status_Before_Run& before = t.status_before_run;
    if (!before.summary_shown) return;
    before.summary_shown = false;
    t.form.Cur_Adr_Lbl.set_caption(before.caption);
    t.form.Cur_Adr_Lbl.set_visible(before.visible);
}
