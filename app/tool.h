#pragma once
#include "app/bus_form.h"
#include "app/controls.h"
#include "app/dialogs.h"
#include "app/program_state.h"
#include "link/serial_port.h"

#include <QDeadlineTimer>
#include <QTimer>
#include <array>
#include <deque>
#include <functional>
#include <memory>

// The running program: its one program state, its main window, the serial port and the
// dialogs. Every procedure takes the Tool it works on.
struct Tool {
    Program_State S;
    Bus_Form F;
    Screen_Pointer Screen;
    std::unique_ptr<Serial_Port> Comm1;
    Dialogs* Dlg = nullptr;

    // Set while the port chosen by the last Open_Com_Port was opened: if the device then goes
    // away (unplugged, hung up), the probe of the board reopens it by itself.
    bool Port_Wanted = false;
    // The device the port was last opened on, as COM Com_Port named it then.
    QString Port_Device;
    // After a failed opening, the same port is tried again on each timeout.
    QTimer Port_Retry;

    // User requests that reach the bus are not run while a bus step (or the re-arm started by a
    // click) is under way: they wait here and run, in order, as soon as it has ended, so that
    // two exchanges never meet on the line and the step's own writes cannot undo the request.
    int Bus_Busy = 0;
    std::deque<std::function<void()>> Pending_Requests;

    // Nesting depth of Tempo_Wait, so that a pause inside a pause neither ends the outer one
    // early nor leaves the task tick off.
    int Tempo_Depth = 0;

    // Soak runs and the engine fuzzer run the engine's whole clock (task tick, pauses, reply
    // time-out) this many times faster, to get through many exchanges; the tool runs at 1.
    int Clock_Divider = 1;

    // After a reply time-out the board may still be answering the request that failed: the next
    // request waits until the line has been quiet for a while, and what comes meanwhile is
    // thrown away (Exchange_Byte).
    struct Late_Reply_Guard {
        bool Armed = false;
        QDeadlineTimer Quiet_Until; // moved on by every byte that comes, up to Give_Up
        QDeadlineTimer Give_Up;
    } Late_Guard;

    // Why the last exchange or command failed, for the operations that tell the user.
    enum class Link_Fault { None, No_Reply, Wrong_Echo, Port_Closed } Last_Fault = Link_Fault::None;

    // Moves on whenever the tool may have lost sight of the board it searched: a port opened, a
    // lost port back, a declared disconnection. A type that the search read under an older count
    // may now belong to another detector; the readout of that cell reads it again first.
    uint32_t Board_Epoch = 0;
    std::array<uint32_t, 128> Type_Epoch{}; // element n-1 for address n

    // Simulation polls in a row that got no byte back at all.
    int Silent_Polls = 0;
    // The LED the tool had lit when a simulation started: its first poll switches it off.
    uint8_t Led_Lit_Before_Run = 0;

    // Where and why the search under way was cut short; empty while it goes well.
    QString Search_Stop;

    // Kept by the byte exchange itself, so a run can prove that two exchanges never overlapped.
    struct Link_Counters {
        quint64 Exchanges = 0; // asked for, overlapping ones included
        int In_Flight = 0;
        int Max_In_Flight = 0;
        quint64 Overlaps = 0; // asked for while another was waiting for its reply
        quint64 Replies = 0;  // exchanges that got bytes back in time
    } Link_Count;
};
