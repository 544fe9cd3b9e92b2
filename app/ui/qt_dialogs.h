#pragma once
#include "model/dialogs.h"

#include <QList>
#include <QPointer>
#include <QWidget>

class QDialog;

// The tool's message, input and About boxes as Qt dialogs, modal over the main window.
class Qt_Dialogs : public Dialogs {
  public:
    void set_owner(QWidget* w) { owner_ = w; }
    QWidget* owner() const { return owner_; }

    QVariant msg_box(const QString& prompt, int style, const QString& title) override;
    QString input_box(const QString& prompt, const QString& title, const QString& preset) override;
    void show_about() override;
    QString open_file(const QString& title, const QString& filter) override;
    QString save_file(const QString& title, const QString& suggested,
                      const QString& filter) override;
    QString choose_folder(const QString& title, const QString& start) override;
    bool ask_yes_no(const QString& prompt, const QString& title) override;
    int choose_row(const QString& title, const QString& text, const QStringList& headers,
                   const std::function<QList<QStringList>()>& rows) override;
    bool ask_fields(const QString& title, const QStringList& labels, QStringList* values,
                    const QList<QStringList>& choices) override;
    void show_journal(const Loop_Record& record) override;
    void show_table(const QString& title, const QString& text, const QStringList& headers,
                    const QList<QStringList>& rows) override;

    // The program is ending: every open box closes as if cancelled, and none opens from now on
    // (a message box answers OK, an input box an empty text, at once).
    void quit();

  private:
    // Runs the box modally unless the program is ending; Quit can end it while it runs.
    int run(QDialog& box);

    QPointer<QWidget> owner_;
    QPointer<QDialog> journal_;
    QList<QPointer<QDialog>> open_;
    bool quitting_ = false;
};
