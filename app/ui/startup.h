#pragma once
#include "link/serial_port.h"

#include <functional>
#include <memory>

struct Tool;
class Main_Window;
class Qt_Dialogs;

// One run of the tool: its state, its dialogs and its window. Built in the order the program
// starts (load sequence, then the window), torn down window first.
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
    // button.
    void Start();
    // The main loop; returns 0 once the program has been told to end.
    int Run();

  private:
    std::unique_ptr<Tool> t_;
    std::unique_ptr<Qt_Dialogs> dialogs_;
    std::unique_ptr<Main_Window> window_;
};

// The whole program: QApplication, Session with the Qt serial port, start, main loop.
int Kalvenor_Main(int argc, char** argv);
