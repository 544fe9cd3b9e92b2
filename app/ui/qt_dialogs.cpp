#include "app/ui/qt_dialogs.h"

#include "app/ui/about_dialog.h"

#include <QDialog>
#include <QInputDialog>
#include <QMessageBox>

namespace {
constexpr int vbOK = 1;

QMessageBox::Icon icon_of(int style) {
    switch (style & 0x70) {
    case 16:
        return QMessageBox::Critical;
    case 32:
        return QMessageBox::Question;
    case vbExclamation:
        return QMessageBox::Warning;
    case vbInformation:
        return QMessageBox::Information;
    default:
        return QMessageBox::NoIcon;
    }
}
} // namespace

QVariant Qt_Dialogs::msg_box(const QString& prompt, int style, const QString& title) {
    QMessageBox box(icon_of(style), title, prompt, QMessageBox::Ok, owner_);
    box.setObjectName(QStringLiteral("msg_box"));
    box.setTextFormat(Qt::PlainText);
    run(box);
    return vbOK;
}

QString Qt_Dialogs::input_box(const QString& prompt, const QString& title, const QString& preset) {
    QInputDialog box(owner_);
    box.setObjectName(QStringLiteral("input_box"));
    box.setInputMode(QInputDialog::TextInput);
    box.setWindowTitle(title);
    box.setLabelText(prompt);
    box.setTextValue(preset);
    box.setOkButtonText(QStringLiteral("OK"));
    box.setCancelButtonText(QStringLiteral("Annuler"));
    if (run(box) != QDialog::Accepted) return QString();
    return box.textValue();
}

void Qt_Dialogs::show_about() {
    About_Dialog about(owner_);
    run(about);
}

void Qt_Dialogs::quit() {
    quitting_ = true;
    // Innermost first, so each nested exec returns into one that is already ending.
    for (int i = open_.size() - 1; i >= 0; --i)
        if (QDialog* box = open_.at(i)) box->done(QDialog::Rejected);
}

int Qt_Dialogs::run(QDialog& box) {
    if (quitting_) return QDialog::Rejected;
    open_.append(&box);
    const int result = box.exec();
    open_.removeAll(&box);
    return quitting_ ? int(QDialog::Rejected) : result;
}
