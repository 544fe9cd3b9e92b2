#include "app/ui/qt_dialogs.h"

#include "app/ui/about_dialog.h"
#include "app/ui/journal_window.h"

#include <functional>

#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace {
constexpr int Ok_Pressed = 1;

QMessageBox::Icon icon_of(int style) {
    switch (style & 0x70) {
    case 16:
        return QMessageBox::Critical;
    case 32:
        return QMessageBox::Question;
    case Msg_Exclamation:
        return QMessageBox::Warning;
    case Msg_Information:
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
    return Ok_Pressed;
}

bool Qt_Dialogs::ask_yes_no(const QString& prompt, const QString& title) {
    QMessageBox box(QMessageBox::Question, title, prompt, QMessageBox::NoButton, owner_);
    box.setObjectName(QStringLiteral("yes_no_box"));
    box.setTextFormat(Qt::PlainText);
    QPushButton* yes = box.addButton(QStringLiteral("Oui"), QMessageBox::YesRole);
    box.addButton(QStringLiteral("Non"), QMessageBox::NoRole);
    box.setDefaultButton(yes);
    run(box);
    return box.clickedButton() == yes;
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

QString Qt_Dialogs::open_file(const QString& title, const QString& filter) {
    QFileDialog box(owner_, title, QDir::currentPath(), filter);
    box.setObjectName(QStringLiteral("file_box"));
    box.resize(820, 500); // wide enough for the sizes and dates of its columns
    box.setFileMode(QFileDialog::ExistingFile);
    box.setAcceptMode(QFileDialog::AcceptOpen);
    if (run(box) != QDialog::Accepted || box.selectedFiles().isEmpty()) return QString();
    return box.selectedFiles().constFirst();
}

QString Qt_Dialogs::save_file(const QString& title, const QString& suggested,
                              const QString& filter) {
    QFileDialog box(owner_, title, QDir::current().filePath(suggested), filter);
    box.setObjectName(QStringLiteral("file_box"));
    box.resize(820, 500); // wide enough for the sizes and dates of its columns
    box.setAcceptMode(QFileDialog::AcceptSave);
    if (run(box) != QDialog::Accepted || box.selectedFiles().isEmpty()) return QString();
    return box.selectedFiles().constFirst();
}

QString Qt_Dialogs::choose_folder(const QString& title, const QString& start) {
    QFileDialog box(owner_, title, start);
    box.setObjectName(QStringLiteral("folder_box"));
    box.resize(820, 500);
    box.setFileMode(QFileDialog::Directory);
    box.setOption(QFileDialog::ShowDirsOnly);
    if (run(box) != QDialog::Accepted || box.selectedFiles().isEmpty()) return QString();
    return box.selectedFiles().constFirst();
}

bool Qt_Dialogs::ask_fields(const QString& title, const QStringList& labels, QStringList* values,
                            const QList<QStringList>& choices) {
    QDialog box(owner_);
    box.setObjectName(QStringLiteral("fields_box"));
    box.setWindowTitle(title);
    auto* form = new QFormLayout(&box);
    QList<std::function<QString()>> answers;
    for (int i = 0; i < labels.size(); ++i) {
        QWidget* field = nullptr;
        // A field with values to choose from takes one of them, or a new one typed in.
        if (const QStringList offered = choices.value(i); !offered.isEmpty()) {
            auto* combo = new QComboBox(&box);
            combo->setEditable(true);
            combo->setInsertPolicy(QComboBox::NoInsert);
            combo->addItems(offered);
            combo->setCurrentText(values->value(i));
            answers << [combo] { return combo->currentText(); };
            field = combo;
        } else {
            auto* edit = new QLineEdit(values->value(i), &box);
            answers << [edit] { return edit->text(); };
            field = edit;
        }
        field->setMinimumWidth(320);
        form->addRow(labels.at(i) + QStringLiteral(" :"), field);
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &box);
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Annuler"));
    QObject::connect(buttons, &QDialogButtonBox::accepted, &box, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &box, &QDialog::reject);
    form->addRow(buttons);
    if (run(box) != QDialog::Accepted) return false;
    values->clear();
    for (const auto& answer : answers)
        *values << answer();
    return true;
}

int Qt_Dialogs::choose_row(const QString& title, const QString& text, const QStringList& headers,
                           const std::function<QList<QStringList>()>& rows) {
    QDialog box(owner_);
    box.setObjectName(QStringLiteral("choose_box"));
    box.setWindowTitle(title);
    box.resize(900, 320);
    auto* layout = new QVBoxLayout(&box);
    auto* label = new QLabel(text, &box);
    label->setWordWrap(true);
    layout->addWidget(label);
    auto* table = new QTableWidget(&box);
    table->setColumnCount(int(headers.size()));
    table->setHorizontalHeaderLabels(headers);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->verticalHeader()->hide();
    table->horizontalHeader()->setStretchLastSection(true);
    layout->addWidget(table);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &box);
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Annuler"));
    QObject::connect(buttons, &QDialogButtonBox::accepted, &box, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &box, &QDialog::reject);
    QObject::connect(table, &QTableWidget::cellDoubleClicked, &box, &QDialog::accept);
    layout->addWidget(buttons);
    QList<QStringList> shown;
    // Refilled only when the list changed, so that the selection stays under the pointer.
    const auto refresh = [&] {
        const QList<QStringList> now = rows();
        if (now == shown) return;
        const int selected = table->currentRow();
        const QString key = selected >= 0 ? shown.value(selected).value(0) : QString();
        shown = now;
        table->setRowCount(int(shown.size()));
        for (int r = 0; r < shown.size(); ++r)
            for (int c = 0; c < headers.size(); ++c)
                table->setItem(r, c, new QTableWidgetItem(shown[r].value(c)));
        int again = -1;
        for (int r = 0; r < shown.size() && !key.isEmpty(); ++r)
            if (shown[r].value(0) == key) again = r;
        table->setCurrentCell(again >= 0 ? again : (shown.isEmpty() ? -1 : 0), 0);
        table->resizeColumnsToContents();
        buttons->button(QDialogButtonBox::Ok)->setEnabled(!shown.isEmpty());
    };
    refresh();
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &box, refresh);
    poll.start(1000);
    if (run(box) != QDialog::Accepted) return -1;
    poll.stop();
    // The caller's list is the one last asked for: ask once more so that both agree.
    const int chosen = table->currentRow();
    const QString key = shown.value(chosen).value(0);
    const QList<QStringList> last = rows();
    for (int r = 0; r < last.size(); ++r)
        if (last[r].value(0) == key) return r;
    return -1;
}

void Qt_Dialogs::show_table(const QString& title, const QString& text, const QStringList& headers,
                            const QList<QStringList>& rows) {
    QDialog box(owner_);
    box.setObjectName(QStringLiteral("table_box"));
    box.setWindowTitle(title);
    auto* layout = new QVBoxLayout(&box);
    auto* label = new QLabel(text, &box);
    label->setWordWrap(true);
    layout->addWidget(label);
    auto* table = new QTableWidget(int(rows.size()), int(headers.size()), &box);
    table->setHorizontalHeaderLabels(headers);
    table->verticalHeader()->hide();
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    for (int r = 0; r < rows.size(); ++r)
        for (int c = 0; c < rows.at(r).size() && c < headers.size(); ++c)
            table->setItem(r, c, new QTableWidgetItem(rows.at(r).at(c)));
    table->resizeColumnsToContents();
    table->horizontalHeader()->setStretchLastSection(true);
    table->setVisible(!rows.isEmpty());
    layout->addWidget(table);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, &box);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &box, &QDialog::accept);
    layout->addWidget(buttons);
    box.resize(640, rows.isEmpty() ? 120 : 420);
    run(box);
}

void Qt_Dialogs::show_journal(const Loop_Record& record) {
    if (quitting_) return;
    if (!journal_) {
        journal_ = new Journal_Window(record, owner_);
        journal_->setAttribute(Qt::WA_DeleteOnClose);
    }
    journal_->show();
    journal_->raise();
    journal_->activateWindow();
}

void Qt_Dialogs::quit() {
    if (journal_) journal_->close();
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
