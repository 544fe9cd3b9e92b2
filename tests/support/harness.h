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
        QString prompt, title;
        int style;
    };
    QList<Message> messages;
    QStringList presets; // what each input box offered, in order
    QStringList answers; // given to the input boxes in order; "1" once they run out

    QVariant msg_box(const QString& prompt, int style, const QString& title) override {
        messages.append({prompt, title, style});
        return 1;
    }
    QString input_box(const QString&, const QString&, const QString& preset) override {
        presets << preset;
        return answers.isEmpty() ? QStringLiteral("1") : answers.takeFirst();
    }
    void show_about() override {}
    // Files, folders and forms take the next answers, as input boxes do.
    QString open_file(const QString&, const QString&) override { return input_box({}, {}, {}); }
    QString save_file(const QString&, const QString&, const QString&) override {
        return input_box({}, {}, {});
    }
    QString choose_folder(const QString&, const QString&) override { return input_box({}, {}, {}); }
    // Answered "oui" or not, as an input box is.
    bool ask_yes_no(const QString& prompt, const QString& title) override {
        messages.append({prompt, title, -1});
        return input_box({}, {}, {}) == QLatin1String("oui");
    }
    // The row whose index is the next answer; -1 for none or Cancel.
    int choose_row(const QString&, const QString&, const QStringList&,
                   const std::function<QList<QStringList>()>& rows) override {
        const int count = int(rows().size());
        bool ok = false;
        const int row = input_box({}, {}, {}).toInt(&ok);
        return ok && row >= 0 && row < count ? row : -1;
    }
    bool ask_fields(const QString&, const QStringList&, QStringList* values,
                    const QList<QStringList>&) override {
        for (QString& v : *values)
            v = input_box({}, {}, v);
        return true;
    }
};

// A tool wired to the simulated board, in a fresh current directory (where the settings file
// and the COM<n> link live) that is left when it ends: over a real pseudo-terminal, or, with
// `in_memory`, over a port in memory that only COM `com` opens.
class Harness {
  public:
    explicit Harness(const loopsim::Loop& loop = loopsim::default_loop(), int com = 1,
                     bool in_memory = false);
    ~Harness();

    QTemporaryDir dir;
    loopsim::Board board;
    Test_Dialogs dialogs;
    Tool t;

    void open();          // Com_Port = com, then Open_Com_Port
    void load();          // the whole load sequence (settings, grid, port)
    void connect_board(); // open(), then run until the task idles in state 9
    // Runs main loop passes until pred() holds or ms have passed; returns pred().
    bool run_until(const std::function<bool()>& pred, int ms);
    void run_for(int ms) {
        run_until([] { return false; }, ms);
    }

  private:
    QString old_dir_;
    int com_;
};
