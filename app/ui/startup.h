#pragma once
#include "link/serial_port.h"

#include <functional>
#include <memory>

struct Tool;
class Main_Window;
class Qt_Dialogs;
class Quit_Signals;

// One run of the tool: its state, its dialogs and its window. Built in the order the program
// starts (load sequence, then the window), torn down window first.
//
// Every way of quitting goes through the form's unload (close box, Quit menu entry, and a
// termination signal, which takes the close box's path): the wait under way ends, an open box
// closes and no other opens, and Run returns.
class Session {
  public:
    // Needs a QApplication. The port is the one the tool opens (the Qt serial port in use).
    explicit Session(std::unique_ptr<Serial_Port> port);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    Tool& tool() { return *t_; }
    Main_Window& window() { return *window_; }
    Qt_Dialogs& dialogs() { return *dialogs_; }

    // Form_Load, then the window is built and shown, centred, with the focus on the search
    // button; not shown when quitting began during the load (from the port error box).
    void start();
    // The main loop; returns 0 once the program has been told to end.
    int run();

  private:
    std::unique_ptr<Tool> t_;
    std::unique_ptr<Qt_Dialogs> dialogs_;
    std::unique_ptr<Main_Window> window_;
    std::unique_ptr<Quit_Signals> signals_;
};

// The whole program: QApplication, Session with the Qt serial port, start, the site file named
// on the command line, main loop.
int kalvenor_main(int argc, char** argv);
