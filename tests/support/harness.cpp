#include "support/harness.h"

#include "app/bus_task.h"
#include "app/shell.h"
#include "engine/com_port.h"
#include "link/qt_serial_port.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QTimer>

QVariant Test_Dialogs::msg_box(const QString& prompt, int style, const QString& title) {
    messages.append({prompt, style, title});
    if (while_open) while_open();
    return 1;
}

QString Test_Dialogs::input_box(const QString& prompt, const QString& title,
                                const QString& preset) {
    inputs.append({prompt, title, preset});
    if (while_open) while_open();
    if (answers.isEmpty()) {
        ++unexpected_inputs;
        return QStringLiteral("1");
    }
    return answers.takeFirst();
}

void Test_Dialogs::show_about() {
    ++about_shown;
    if (while_open) while_open();
}

QString Test_Dialogs::open_file(const QString& title, const QString&) {
    return input_box(title, title, QString());
}

QString Test_Dialogs::choose_folder(const QString& title, const QString&) {
    return input_box(title, title, QString());
}

bool Test_Dialogs::ask_fields(const QString& title, const QStringList& labels,
                              QStringList* values) {
    for (int i = 0; i < labels.size(); ++i)
        (*values)[i] = input_box(labels.at(i), title, values->value(i));
    return true;
}

void Test_Dialogs::show_table(const QString&, const QString& text, const QStringList&,
                              const QList<QStringList>& rows) {
    QStringList lines{text};
    for (const QStringList& row : rows)
        lines << row.join(',');
    tables << lines.join('|');
}

Harness::Harness(const loopsim::Loop& loop, int com)
    : board(loop), old_dir_(QDir::currentPath()), com_(com) {
    QDir::setCurrent(dir.path());
    if (QString error; !board.start(dir.path(), com, &error))
        qFatal("simulator: %s", qPrintable(error));
    t.link.set_port(make_qt_serial_port());
    t.dialogs = &dialogs;
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

void Harness::open_quiet() {
    wire_handlers(t);
    open();
    t.form.Timer_Tache.stop();
    board.clear_traffic();
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

void Harness::step() {
    Bus_Task(t);
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
