#pragma once
#include <QDialog>
#include <QTimer>

class Loop_Record;
class QLabel;
class QTableWidget;

// The journal of the loop record in a window of its own, beside the main one: it follows the
// record while the simulation runs (redrawn at most a few times a second), so a walk test can be
// watched as it goes.
class Journal_Window : public QDialog {
    Q_OBJECT
  public:
    Journal_Window(const Loop_Record& record, QWidget* owner);

  private:
    void refresh();

    const Loop_Record& record_;
    QLabel* walk_test_ = nullptr;
    QTableWidget* events_ = nullptr;
    QTableWidget* summary_ = nullptr;
    QTimer later_;
};
