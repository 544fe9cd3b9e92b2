#pragma once
#include "model/dialogs.h"
#include "model/tool.h"
#include "tools/loopsim/board.h"

#include <QStringList>
#include <QTemporaryDir>
#include <functional>

// Answers the tool's message and input boxes for a test, and remembers what was asked.
class Test_Dialogs : public Dialogs {
  public:
    struct Message {
        QString prompt;
        int style;
        QString title;
    };
    struct Input {
        QString prompt, title, preset;
    };
    QList<Message> messages;
    QList<Input> inputs;
    QStringList answers;       // given to the input boxes in order
    int unexpected_inputs = 0; // input boxes asked after the answers ran out (answered "1")
    int about_shown = 0;
    std::function<void()> while_open; // runs while a box is open (a box is modal)

    QVariant msg_box(const QString& prompt, int style, const QString& title) override;
    QString input_box(const QString& prompt, const QString& title, const QString& preset) override;
    void show_about() override;
    // A file asked for gets the next answer; a table shown is kept as its text and rows.
    QString open_file(const QString& title, const QString& filter) override;
    QString choose_folder(const QString& title, const QString& start) override;
    QString save_file(const QString& title, const QString&, const QString&) override {
        return choose_folder(title, {});
    }
    bool ask_fields(const QString& title, const QStringList& labels, QStringList* values) override;
    void show_table(const QString& title, const QString& text, const QStringList& headers,
                    const QList<QStringList>& rows) override;
    QStringList tables;
};

// A tool wired to the simulated board over a real pseudo-terminal, in a fresh current
// directory (where the settings file and the COM<n> link live) that is left when it ends.
class Harness {
  public:
    explicit Harness(const loopsim::Loop& loop = loopsim::default_loop(), int com = 1);
    ~Harness();

    QTemporaryDir dir;
    loopsim::Board board;
    Test_Dialogs dialogs;
    Tool t;

    void open(); // Com_Port = com, then Open_Com_Port
    // The handlers wired and the port open, with the task tick stopped: only the test talks.
    void open_quiet();
    void load();          // the whole load sequence (settings, grid, port)
    void connect_board(); // open(), then run until the task idles in state 9
    void step();          // one Bus_Task step
    // Runs main loop passes until pred() holds or ms have passed; returns pred().
    bool run_until(const std::function<bool()>& pred, int ms);
    void run_for(int ms) {
        run_until([] { return false; }, ms);
    }

  private:
    QString old_dir_;
    int com_;
};
