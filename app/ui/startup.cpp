#include "app/ui/startup.h"

#include "app/adapters.h"
#include "app/command_line.h"
#include "app/quit_signals.h"
#include "app/session_file.h"
#include "app/shell.h"
#include "app/site_menu.h"
#include "app/trace.h"
#include "app/ui/about_dialog.h"
#include "app/ui/artwork.h"
#include "app/ui/main_window.h"
#include "app/ui/qt_dialogs.h"
#include "link/port_list.h"
#include "link/qt_serial_port.h"
#include "link/regular_file.h"
#include "model/tool.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTimer>
#include <QTranslator>
#include <cstdio>

Session::Session(std::unique_ptr<Serial_Port> port)
    : t_(std::make_unique<Tool>()), dialogs_(std::make_unique<Qt_Dialogs>()) {
    t_->link.set_port(std::move(port));
    t_->dialogs = dialogs_.get();
    Qt_Dialogs* dialogs = dialogs_.get();
    QObject::connect(&t_->form, &Bus_Form::unloaded, &t_->form, [dialogs] { dialogs->quit(); });
    Tool* t = t_.get();
    signals_ = std::make_unique<Quit_Signals>([t] { Form_QueryUnload(*t); });
}

Session::~Session() {
    signals_.reset();
    window_.reset();
    t_->dialogs = nullptr;
}

void Session::start() {
    Form_Load(*t_);
    window_ = std::make_unique<Main_Window>(*t_);
    dialogs_->set_owner(window_.get());
    if (!t_->state.Quit_Flag) window_->show_centred();
}

int Session::run() {
    if (!t_->state.Quit_Flag) main_loop(*t_);
    return 0;
}

int kalvenor_main(int argc, char** argv) {
    // On X11, Qt hands the window's pixels to the server through shared memory, and before it
    // draws into a part the server may still be reading it waits for a round trip to the
    // server: twice for every status poll, as the activity lamps blink. The window changes in
    // small pieces, which cost less sent over the connection. A user's own setting stands.
    if (!qEnvironmentVariableIsSet("QT_XCB_NO_MITSHM")) qputenv("QT_XCB_NO_MITSHM", "1");
    // Help, version, the list of ports and a bad option are answered before any window system is
    // reached: they work where there is no display (over SSH).
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    const Command_Line options = parse_command_line(args);
    if (!options.error.isEmpty()) {
        std::fprintf(stderr, "kalvenor : %s\nEssayez « kalvenor --help ».\n",
                     qPrintable(options.error));
        return 2;
    }
    if (options.help || options.version) {
        std::fputs(qPrintable(options.help ? usage_text() : version_text() + QLatin1Char('\n')),
                   stdout);
        return 0;
    }
    if (options.list_ports) {
        QCoreApplication core(argc, argv);
        const QStringList ports = list_serial_ports();
        std::fputs(qPrintable(ports.isEmpty() ? QString::fromUtf8("Aucun port série trouvé.\n")
                                              : ports.join(QLatin1Char('\n')) + QLatin1Char('\n')),
                   stdout);
        return 0;
    }
    file_size_limit_as_fault();
    QApplication app(argc, argv);
    QApplication::setApplicationName(About_Dialog::App_Title);
    QApplication::setWindowIcon(artwork::app_icon());
    // The main loop decides when the program ends, not the last window.
    QApplication::setQuitOnLastWindowClosed(false);
    // The tool speaks French whatever the desktop's language: Qt's own texts too (the file
    // boxes, the context menu of a text field, the standard buttons).
    QTranslator qt_texts;
    if (qt_texts.load(QLocale(QLocale::French, QLocale::France), QStringLiteral("qtbase"),
                      QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qt_texts);
    Session session(make_qt_serial_port());
    session.tool().port_for_run.number = options.port_number;
    session.tool().port_for_run.path = options.port_path;
    // The adapter chosen by name last time, unless the command line names a port.
    if (!options.port_number && options.port_path.isEmpty())
        session.tool().port_for_run.path = remembered_adapter();
    if (QString why;
        !options.trace.isEmpty() && !start_trace(session.tool(), options.trace, &why)) {
        std::fprintf(stderr, "kalvenor : --trace : %s\n", qPrintable(why));
        return 2;
    }
    session.start();
    Tool* t = &session.tool();
    // A site file named on the command line (a double-click on it, or the desktop's "last site"),
    // once the window shows; the record goes there, and no session begins.
    bool site_named = !options.site.isEmpty();
    if (options.last_site)
        site_named = open_last_site_at_start(*t);
    else if (site_named)
        open_site_at_start(*t, options.site);
    if (!site_named) {
        // The session file once the window has painted, so that the offer to take up the last
        // session has its owner and the file's opening never delays the first paint.
        QTimer::singleShot(0, &t->form, [t] {
            if (!t->state.Quit_Flag) begin_session_file(*t);
        });
    }
    return session.run();
}
