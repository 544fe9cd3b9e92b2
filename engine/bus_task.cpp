#include "engine/bus_task.h"

#include "app/tool.h"
#include "engine/requests.h"

void Bus_Task(Tool& t) {
    Bus_Busy_Scope busy(t);
    switch (t.S.Task_State) {
    default:
        t.S.Task_State = Task::Probe_Interface;
        break;
    }
    if (t.S.Quit_Flag) t.F.Unload();
}
