#include "support/harness.h"

#include "app/shell.h"
#include "engine/com_port.h"
#include "link/qt_serial_port.h"
#include "support/memory_port.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QTimer>

Harness::Harness(const loopsim::Loop& loop, int com, bool in_memory)
    : board(loop), old_dir_(QDir::currentPath()), com_(com) {
    QDir::setCurrent(dir.path());
    t.dialogs = &dialogs;
    if (!in_memory) {
        if (QString error; !board.start(dir.path(), com, &error))
            qFatal("simulator: %s", qPrintable(error));
        t.link.set_port(make_qt_serial_port());
        return;
    }
    board.start_in_memory();
    auto port = std::make_unique<Memory_Port>();
    Memory_Port* p = port.get();
    p->set_number(com);
    p->set_answer([this](uint8_t byte) -> std::optional<QByteArray> {
        board.feed(byte);
        return std::nullopt;
    });
    QObject::connect(&board, &loopsim::Board::to_tool, p, &Memory_Port::deliver);
    QObject::connect(&board, &loopsim::Board::line_dropped, p, [p] {
        p->set_open_fails(true);
        p->hang_up();
    });
    QObject::connect(&board, &loopsim::Board::line_back, p, [p] { p->set_open_fails(false); });
    t.link.set_port(std::move(port));
}

Harness::~Harness() {
    if (t.link.Comm1()) t.link.Comm1()->close();
    board.stop();
    QDir::setCurrent(old_dir_);
}

void Harness::open() {
    t.state.Com_Port = static_cast<uint8_t>(com_);
    Open_Com_Port(t);
}

void Harness::load() {
    Form_Load(t);
}

void Harness::connect_board() {
    open();
    if (!run_until([this] { return t.state.Task_State == Task::Idle_Status && t.state.Connected; },
                   5000))
        qWarning("the board did not connect");
}

bool Harness::run_until(const std::function<bool()>& pred, int ms) {
    QDeadlineTimer deadline(ms);
    // Wakes the blocking pass at least this often, so the deadline is seen.
    QTimer wake;
    wake.start(20);
    while (!pred() && !deadline.hasExpired() && !t.state.Quit_Flag)
        main_loop_pass(t);
    return pred();
}
