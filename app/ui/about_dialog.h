#pragma once
#include <QDialog>

class QLabel;
class QPushButton;

// frmAbout: title, version and author of the tool, shown modally over the main window.
// Each opening builds a fresh dialog.
class About_Dialog : public QDialog {
    Q_OBJECT
  public:
    static const QString App_Title; // "Kalvenor_V2.5"

    explicit About_Dialog(QWidget* owner = nullptr);

    QLabel* Image1 = nullptr;
    QLabel* lblTitle = nullptr;
    QLabel* lblVersion = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* lblDescription = nullptr;
    QPushButton* Command1 = nullptr;

  protected:
    void showEvent(QShowEvent* e) override;

  private:
    void Form_Load();
    void Command1_Click();
};
