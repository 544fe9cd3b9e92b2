#pragma once
#include "model/flag16.h"
#include "model/indexed.h"

#include <QVariant>
#include <array>
#include <cstdint>
#include <functional>

// Values of Task_State that have a step in Bus_Task; any other value falls back to 1.
namespace Task {
enum : int16_t {
    Quit = 0,
    Probe_Interface = 1,
    Read_Version = 2,
    Search_Addresses = 3,
    Search_End = 4,
    Read_Identity = 5,
    Led_Command = 6,
    Simulation_Poll = 7,
    Simulation_Stop = 8,
    Idle_Status = 9,
    Mode_Write = 16,
    Read_All = 17,
    Led_Walk = 18,
};
}

struct Program_State;
struct Tool;
class Simulation_Run;

// A design flag that reads as a boolean anywhere and is written by its owners only: Grid_Locked
// by the search as it starts and ends (lock_grid_for_search, addresses/search.cpp) and by the
// simulation, Simulation_Active by the simulation alone (Simulation_Run, detector/simulation.cpp).
class Owned_Flag {
  public:
    operator bool() const { return value_; }

  private:
    friend class Simulation_Run;
    friend void lock_grid_for_search(Tool& t, bool locked);
    void set(bool on) { value_ = on; }
    Flag16 value_;
};

// What the search frames add to 0x80 for a protocol phase: 1 for phase 1, 8 for any other.
constexpr uint8_t phase_code(int phase) {
    return phase == 1 ? 1 : 8;
}

// Task_State reads as a number anywhere, and is written through set_task() only, which records
// each change.
class Task_Slot {
  public:
    operator int16_t() const { return value_; }

  private:
    friend void set_task(Program_State& state, int16_t next);
    int16_t value_ = 0;
};

// The one way Task_State changes: each change goes to the logging category kalvenor.task (off by
// default: QT_LOGGING_RULES="kalvenor.task.debug=true") and to `on_task_change`, which the tool
// points at the line trace.
void set_task(Program_State& state, int16_t next);

// Everything that lives longer than one handler or one bus task step. One instance per run,
// held by the Tool and seen by every part of the program. Start values are those the program
// has before the load sequence; the load sequence, the settings file and the port opening then
// set theirs.
struct Program_State {
    // Main loop and pacing
    Task_Slot Task_State;
    std::function<void(int16_t from, int16_t to)> on_task_change;
    Flag16 Task_Tick;
    Flag16 Quit_Flag;
    Flag16 Tempo_Done;
    QVariant Last_Result;

    // Serial link (the reply and the link's flags are the Line's)
    uint8_t Com_Port = 0;

    // Interface connection and protocol phase
    Flag16 Connected;
    uint8_t Probe_Retries = 0;
    uint8_t Phase_Number = 0;
    uint8_t Phase_Code = 0;

    // Address search and address grid
    uint8_t Adr_Count = 0;
    std::array<uint8_t, 128> Adr_Type{}; // element n-1 for address n
    uint8_t Cur_Adr = 0;
    uint8_t Search_Step = 0;
    uint8_t Type4_Counter = 0;
    Owned_Flag Grid_Locked;
    uint8_t Sel_Adr = 0;

    // Selected detector
    std::array<uint8_t, 4> Serial_Bytes{};
    uint8_t Sensor_Mode = 0;
    Flag16 Check_Lock;

    // LED command and loop simulation
    uint8_t Led_Request = 0;
    uint8_t Led_Address = 0;
    Owned_Flag Simulation_Active;
    uint8_t Sim_Address = 0;
    Indexed<Flag16, 1, 128> Alarm_Latch;
};
