#include "model/program_state.h"

#include <QLoggingCategory>

Q_LOGGING_CATEGORY(task_log, "kalvenor.task", QtWarningMsg)

void set_task(Program_State& state, int16_t next) {
    const int16_t from = state.Task_State;
    state.Task_State.value_ = next;
    if (from == next) return;
    qCDebug(task_log, "Task_State %d -> %d", from, next);
    if (state.on_task_change) state.on_task_change(from, next);
}
