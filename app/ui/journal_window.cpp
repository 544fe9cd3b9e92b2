#include "app/ui/journal_window.h"

#include "app/journal.h"
#include "model/loop_record.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

QTableWidget* make_table(const QStringList& headers, QWidget* parent) {
    auto* table = new QTableWidget(0, int(headers.size()), parent);
    table->setHorizontalHeaderLabels(headers);
    table->verticalHeader()->hide();
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->horizontalHeader()->setStretchLastSection(true);
    return table;
}

void fill(QTableWidget* table, const QList<QStringList>& rows) {
    table->setRowCount(int(rows.size()));
    for (int r = 0; r < rows.size(); ++r)
        for (int c = 0; c < rows.at(r).size() && c < table->columnCount(); ++c)
            table->setItem(r, c, new QTableWidgetItem(rows.at(r).at(c)));
    table->resizeColumnsToContents();
}

} // namespace

Journal_Window::Journal_Window(const Loop_Record& record, QWidget* owner)
    : QDialog(owner), record_(record) {
    setObjectName(QStringLiteral("journal_window"));
    setWindowTitle(QStringLiteral("Journal"));
    auto* layout = new QVBoxLayout(this);
    walk_test_ = new QLabel(this);
    walk_test_->setWordWrap(true);
    layout->addWidget(walk_test_);
    auto* tabs = new QTabWidget(this);
    events_ = make_table(
        {QStringLiteral("Heure"), QStringLiteral("Adresse"), QString::fromUtf8("Événement")}, tabs);
    summary_ =
        make_table({QStringLiteral("Adresse"), QStringLiteral("Type"), QStringLiteral("État"),
                    QStringLiteral("Essai"), QStringLiteral("Alarmes"),
                    QString::fromUtf8("première"), QString::fromUtf8("dernière"),
                    QString::fromUtf8("Déf. point"), QString::fromUtf8("première"),
                    QString::fromUtf8("dernière"), QString::fromUtf8("Déf. com"),
                    QString::fromUtf8("première"), QString::fromUtf8("dernière")},
                   tabs);
    tabs->addTab(events_, QString::fromUtf8("Événements"));
    tabs->addTab(summary_, QStringLiteral("Par adresse"));
    layout->addWidget(tabs);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->button(QDialogButtonBox::Close)->setText(QStringLiteral("Fermer"));
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);
    layout->addWidget(buttons);
    resize(900, 520);

    later_.setSingleShot(true);
    later_.setInterval(300);
    connect(&later_, &QTimer::timeout, this, &Journal_Window::refresh);
    const auto soon = [this] {
        if (isVisible() && !later_.isActive()) later_.start();
    };
    connect(&record, &Loop_Record::changed, this, soon);
    connect(&record, &Loop_Record::logged, this, soon);
    refresh();
}

void Journal_Window::refresh() {
    const QString walk = walk_test_text(record_);
    walk_test_->setText(walk.isEmpty()
                            ? QString::fromUtf8("Aucune simulation depuis le démarrage : "
                                                "pas encore d'essai.")
                            : walk);
    fill(events_, journal_events(record_));
    events_->scrollToBottom();
    fill(summary_, journal_summary(record_));
}
