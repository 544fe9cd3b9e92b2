#include "app/bus_task.h"

#include "addresses/identity.h"
#include "addresses/led_walk.h"
#include "addresses/read_all.h"
#include "addresses/search.h"
#include "detector/mode.h"
#include "detector/simulation.h"
#include "engine/connection.h"
#include "engine/led.h"
#include "engine/requests.h"
#include "model/tool.h"

void Bus_Task(Tool& t) {
    Line::Step_Scope busy(t.link);
    reopen_lost_port(t);
    switch (t.state.Task_State) {
    case Task::Probe_Interface:
        Probe_Interface(t);
        break;
    case Task::Read_Version:
        Read_Version(t);
        break;
    case Task::Search_Addresses:
        Search_Addresses(t);
        break;
    case Task::Search_End:
        Search_End(t);
        break;
    case Task::Read_Identity:
        Read_Identity(t);
        break;
    case Task::Led_Command:
        Led_Command(t);
        break;
    case Task::Simulation_Poll:
        Simulation_Poll(t);
        break;
    case Task::Simulation_Stop:
        Simulation_Stop(t);
        break;
    case Task::Idle_Status:
        Idle_Status(t);
        break;
    case Task::Mode_Write:
        Mode_Write(t);
        break;
    case Task::Read_All:
        Read_All(t);
        break;
    case Task::Led_Walk:
        Led_Walk(t);
        break;
    default:
        // Also absorbs the 0 written by the quit menu entry.
        set_task(t.state, Task::Probe_Interface);
        break;
    }
    if (t.state.Quit_Flag) t.form.unload();
}
