#pragma once
#include "link/line.h"
#include "model/board_state.h"
#include "model/bus_form.h"
#include "model/controls.h"
#include "model/dialogs.h"
#include "model/loop_record.h"
#include "model/planned_loop.h"
#include "model/program_state.h"
#include "model/runs.h"
#include "model/visit_compare.h"

#include <QDeadlineTimer>
#include <QString>
#include <QTimer>
#include <array>
#include <memory>

struct Tool;

// How deeply Tempo_Wait is nested, so that a pause inside a pause neither ends the outer one early
// nor leaves the task tick off. Counted by Tempo_Wait alone (engine/tempo.cpp).
class Tempo_Nesting {
  public:
    int depth() const { return depth_; }
    bool pausing() const { return depth_ > 0; }

  private:
    friend void Tempo_Wait(Tool& t, int16_t ms);
    int depth_ = 0;
};

// The running program: its one program state, its main window, the serial line and the
// dialogs. Every procedure takes the Tool it works on.
struct Tool {
    Tool() {
        link.set_quit_check([this] { return bool(state.Quit_Flag); });
        state.on_task_change = [this](int16_t from, int16_t to) {
            if (link.trace.is_open())
                link.trace.note(QByteArray("état ") + QByteArray::number(from) + " -> " +
                                QByteArray::number(to));
        };
    }
    Tool(const Tool&) = delete;
    Tool& operator=(const Tool&) = delete;

    Program_State state;
    Board_State board;
    Bus_Form form;
    Screen_Pointer screen;
    Line link;
    Dialogs* dialogs = nullptr;

    // Set while the port chosen by the last Open_Com_Port was opened: if the device then goes
    // away (unplugged, hung up), the probe of the board reopens it by itself.
    bool port_wanted = false;
    // The device the port was last opened on, as COM Com_Port named it then.
    QString port_device;
    // A port given on the command line, for this run only: the settings file keeps the port it
    // holds (settings_port) until the user chooses one in the menu.
    struct Port_For_Run {
        int number = 0; // COM n, or 0
        QString path;   // a device path, or empty
        uint8_t settings_port = 0;
        bool active() const { return number != 0 || !path.isEmpty(); }
    } port_for_run;
    // After a failed opening, the same port is tried again on each timeout.
    QTimer port_retry;

    Tempo_Nesting tempo;

    // The board's sight() when the type of each address was read, element n-1 for address n: a
    // type read under an older stamp may now belong to another detector, and the readout of
    // that cell reads it again first.
    std::array<uint32_t, 128> type_sight{};

    // Where and why the search under way was cut short; empty while it goes well.
    QString search_stop;

    // The detector panel shows a readout of Sel_Adr: from a grid click until the readout starts
    // its rows are hidden, and the boxes still stand for the previous detector.
    bool panel_filled = false;
    // A grid click cancels the readout under way, which stops before showing anything more.
    Readouts readouts;

    // What the last search left in the status line, which a run's summary gives way to.
    struct Status_Line {
        QString caption;
        bool visible = false;
    } search_status;
    bool run_summary_shown = false;

    // What the tool has learned of the loop, for the reports, and what the plan says.
    Loop_Record record;
    Planned_Loop planned;

    // The site file the record goes into, when one is open: its path, the site's name, the loop
    // and the engineer of the visit; empty otherwise.
    struct Open_Site {
        QString path, name, loop, engineer;
    } site;
    // The recorder that writes the record into it (made by the application), gone before the
    // record it follows.
    std::unique_ptr<QObject> site_recorder;
    // The visit the record is compared with, and whether the grid's marks follow it rather than
    // the plan.
    Earlier_Visit earlier;
    bool visit_marks = false;

    // The runs over the whole loop, each driven by its own file (model/runs.h).
    Read_All_Run read_all{*this};
    Led_Walk_Run led_walk{*this};
    Simulation_Run simulation{*this};
};
