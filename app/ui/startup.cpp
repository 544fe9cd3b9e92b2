#include "app/ui/startup.h"

#include "app/shell.h"
#include "app/tool.h"
#include "app/ui/about_dialog.h"
#include "app/ui/artwork.h"
#include "app/ui/main_window.h"
#include "app/ui/qt_dialogs.h"
#include "link/qt_serial_port.h"

#include <QApplication>

Session::Session(std::unique_ptr<Serial_Port> port)
    : t_(std::make_unique<Tool>()), dialogs_(std::make_unique<Qt_Dialogs>()) {
    t_->Comm1 = std::move(port);
    t_->Dlg = dialogs_.get();
}

Session::~Session() {
    window_.reset();
    t_->Dlg = nullptr;
}

void Session::Start() {
    Form_Load(*t_);
    window_ = std::make_unique<Main_Window>(*t_);
    dialogs_->setOwner(window_.get());
    window_->Show_Centred();
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
