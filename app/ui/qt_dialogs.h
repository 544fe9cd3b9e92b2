#pragma once
#include "app/dialogs.h"

#include <QPointer>
#include <QWidget>

// The tool's message, input and About boxes as Qt dialogs, modal over the main window.
class Qt_Dialogs : public Dialogs {
  public:
    void setOwner(QWidget* w) { owner_ = w; }
    QWidget* owner() const { return owner_; }

    QVariant Msg_Box(const QString& prompt, int style, const QString& title) override;
    QString Input_Box(const QString& prompt, const QString& title, const QString& preset) override;
    void Show_About() override;

  private:
    QPointer<QWidget> owner_;
};
