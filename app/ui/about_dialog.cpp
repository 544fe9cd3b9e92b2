#include "app/ui/about_dialog.h"

#include "app/ui/artwork.h"
#include "app/ui/look.h"

#include <QLabel>
#include <QPushButton>
#include <QScreen>

const QString About_Dialog::App_Title = QStringLiteral("Kalvenor_V2.5");

namespace {
QLabel* label(QWidget* parent, const char* name, const QString& text) {
    auto* l = new QLabel(text, parent);
    l->setObjectName(QLatin1String(name));
    l->setTextFormat(Qt::PlainText);
    l->setWordWrap(true);
    l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    l->setFocusPolicy(Qt::NoFocus);
    return l;
}

void black_text(QLabel* l) {
    QPalette pal = l->palette();
    pal.setColor(QPalette::WindowText, Qt::black);
    l->setPalette(pal);
}
} // namespace

About_Dialog::About_Dialog(QWidget* owner) : QDialog(owner) {
    look::install_font_substitutes();
    setObjectName(QStringLiteral("frmAbout"));
    // A fixed dialog box: title and close box only, and, being owned, no task-bar entry.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setModal(true);
    setWindowIcon(artwork::app_icon());
    setFont(look::font(Font_Spec{}));

    const look::Twips tw = look::Twips::of(this);
    setFixedSize(tw.x(5730), tw.y(2595));

    Image1 = label(this, "Image1", QString());
    Image1->setPixmap(QPixmap::fromImage(artwork::app_icon_image()));
    Image1->setGeometry(tw.rect(120, 480, 480, 480));

    lblTitle = label(this, "lblTitle", QString());
    lblTitle->setGeometry(tw.rect(1056, 240, 3888, 288));
    black_text(lblTitle);
    lblVersion = label(this, "lblVersion", QString());
    lblVersion->setGeometry(tw.rect(1056, 576, 3888, 228));
    Label1 = label(this, "Label1", QStringLiteral("Auteur : Service Mise en Service"));
    Label1->setGeometry(tw.rect(1056, 864, 3948, 204));
    lblDescription = label(this, "lblDescription", QString());
    lblDescription->setGeometry(tw.rect(192, 1416, 5328, 696));
    black_text(lblDescription);

    Command1 = new QPushButton(QStringLiteral("FERMER"), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setGeometry(tw.rect(4128, 2208, 1548, 300));
    Command1->setDefault(true);
    Command1->setFocus();
    connect(Command1, &QPushButton::clicked, this, [this] { Command1_Click(); });

    Form_Load();
}

void About_Dialog::Form_Load() {
    setWindowTitle(QString::fromUtf8("À propos de ") + App_Title);
    lblVersion->setText(QStringLiteral("Version 2.5 du 17/07/06"));
    lblTitle->setText(App_Title);
}

void About_Dialog::Command1_Click() {
    accept();
}

void About_Dialog::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    // Centred on the main window (or on the screen when there is none).
    const QWidget* owner = parentWidget() ? parentWidget()->window() : nullptr;
    const QRect around = owner && owner->isVisible() ? owner->frameGeometry()
                         : screen()                  ? screen()->availableGeometry()
                                                     : QRect();
    if (around.isValid()) move(around.center() - QPoint(width() / 2, height() / 2));
    Command1->setFocus();
}
