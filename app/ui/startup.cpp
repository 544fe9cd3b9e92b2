#include "app/ui/startup.h"

#include "app/shell.h"
#include "app/ui/about_dialog.h"
#include "app/ui/artwork.h"
#include "app/ui/main_window.h"
#include "app/ui/qt_dialogs.h"
#include "app/ui/quit_signals.h"
#include "link/qt_serial_port.h"
#include "model/tool.h"

#include <QApplication>

Session::Session(std::unique_ptr<Serial_Port> port)
    : t_(std::make_unique<Tool>()), dialogs_(std::make_unique<Qt_Dialogs>()) {
    t_->Link.Set_Port(std::move(port));
    t_->Dlg = dialogs_.get();
    Qt_Dialogs* dialogs = dialogs_.get();
    QObject::connect(&t_->F, &Bus_Form::unloaded, &t_->F, [dialogs] { dialogs->Quit(); });
    Tool* t = t_.get();
    signals_ = std::make_unique<Quit_Signals>([t] { Form_QueryUnload(*t); });
}

Session::~Session() {
    signals_.reset();
    window_.reset();
    t_->Dlg = nullptr;
}

void Session::Start() {
    Form_Load(*t_);
    window_ = std::make_unique<Main_Window>(*t_);
    dialogs_->setOwner(window_.get());
    if (!t_->S.Quit_Flag) window_->Show_Centred();
}

int Session::Run() {
    if (!t_->S.Quit_Flag) Main_Loop(*t_);
    return 0;
}

int Kalvenor_Main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(About_Dialog::App_Title);
    QApplication::setWindowIcon(artwork::App_Icon());
    // The main loop decides when the program ends, not the last window.
    QApplication::setQuitOnLastWindowClosed(false);
    Session session(make_qt_serial_port());
    session.Start();
    return session.Run();
}
