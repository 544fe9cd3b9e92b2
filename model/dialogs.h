#pragma once
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <functional>

class Loop_Record;

// Message and input boxes go through here, so tests can answer them.
class Dialogs {
  public:
    virtual ~Dialogs() = default;
    // Style as the tool writes it: 0 OK only, plus 48 exclamation or 64 information.
    // Returns the button pressed (1 for OK).
    virtual QVariant msg_box(const QString& prompt, int style, const QString& title) = 0;
    // Returns the text typed, or an empty text for Cancel.
    virtual QString input_box(const QString& prompt, const QString& title,
                              const QString& preset) = 0;
    // Shows the About box modally and returns when it is closed.
    virtual void show_about() = 0;
    // Asks for a file to open (`filter` as "CSV (*.csv)"); an empty text for Cancel.
    virtual QString open_file(const QString& /*title*/, const QString& /*filter*/) { return {}; }
    // Shows the journal of `record` in a window of its own, which follows the record until it is
    // closed; returns at once.
    virtual void show_journal(const Loop_Record& /*record*/) {}
    // Asks for a file to write, offering `suggested`; an empty text for Cancel.
    virtual QString save_file(const QString& /*title*/, const QString& /*suggested*/,
                              const QString& /*filter*/) {
        return {};
    }
    // Asks for a folder; an empty text for Cancel.
    virtual QString choose_folder(const QString& /*title*/, const QString& /*start*/) { return {}; }
    // Asks for several texts in one form, `values` holding the presets and then the answers;
    // false for Cancel. A field with `choices` offers them, and takes a new text too.
    virtual bool ask_fields(const QString& /*title*/, const QStringList& /*labels*/,
                            QStringList* /*values*/, const QList<QStringList>& /*choices*/ = {}) {
        return false;
    }
    // Asks a question answered "Oui" or "Non"; true for "Oui".
    virtual bool ask_yes_no(const QString& /*prompt*/, const QString& /*title*/) { return false; }
    // Shows the rows `rows()` gives under their headers, asked again every second while the box
    // is open, and returns the row chosen, or -1 for Cancel.
    virtual int choose_row(const QString& /*title*/, const QString& /*text*/,
                           const QStringList& /*headers*/,
                           const std::function<QList<QStringList>()>& /*rows*/) {
        return -1;
    }
    // Shows rows under their column headers, with a line of text above, modally.
    virtual void show_table(const QString& /*title*/, const QString& /*text*/,
                            const QStringList& /*headers*/, const QList<QStringList>& /*rows*/) {}
};

enum Msg_Style { Msg_Ok_Only = 0, Msg_Exclamation = 48, Msg_Information = 64 };
