// The About box and the standard message and input boxes, as the user meets them.
#include "app/dialogs.h"
#include "app/ui/about_dialog.h"
#include "app/ui/qt_dialogs.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QWindow>
#include <QtTest>
#include <functional>

namespace {

// Runs `act` on the modal dialog as soon as it is up (it is shown inside exec(), where the
// calls under test block). A dialog that `act` leaves open is closed, so no test can hang.
void when_modal(std::function<void(QWidget*)> act) {
    auto* poll = new QTimer;
    auto started = std::make_shared<QElapsedTimer>();
    started->start();
    QObject::connect(poll, &QTimer::timeout, [poll, started, act] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal && started->elapsed() < 5000) return;
        poll->stop();
        poll->deleteLater();
        if (!modal) return;
        QPointer<QWidget> guard(modal);
        act(modal);
        if (guard && guard->isVisible()) guard->close();
    });
    poll->start(10);
}

QPushButton* button_with_text(QWidget* dialog, const QString& text) {
    for (QPushButton* b : dialog->findChildren<QPushButton*>())
        if (b->text() == text) return b;
    return nullptr;
}

bool at_96_dpi(const QWidget* w) {
    return w->logicalDpiX() == 96 && w->logicalDpiY() == 96;
}

} // namespace

class Tst_About : public QObject {
    Q_OBJECT
  private slots:
    void design_data();
    void design();
    void window_of_the_box();
    void only_fermer_takes_the_focus();
    void closing_data();
    void closing();
    void fresh_dialog_each_time();
    void centred_on_the_main_window();
    void message_box_data();
    void message_box();
    void input_box_data();
    void input_box();
};

void Tst_About::design_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QRect>("pixels");
    // Twips / 15 at 96 dpi.
    QTest::newRow("Image1") << "Image1"
                            << "" << QRect(8, 32, 32, 32);
    QTest::newRow("lblTitle") << "lblTitle"
                              << "Kalvenor_V2.5" << QRect(70, 16, 259, 19);
    QTest::newRow("lblVersion") << "lblVersion"
                                << "Version 2.5 du 17/07/06" << QRect(70, 38, 259, 15);
    QTest::newRow("lblDescription") << "lblDescription"
                                    << "" << QRect(13, 94, 355, 46);
    QTest::newRow("Command1") << "Command1"
                              << "FERMER" << QRect(275, 147, 103, 20);
}

void Tst_About::design() {
    QFETCH(QString, name);
    QFETCH(QString, text);
    QFETCH(QRect, pixels);
    About_Dialog d;
    QWidget* w = d.findChild<QWidget*>(name);
    QVERIFY2(w, qPrintable(name));
    if (auto* l = qobject_cast<QLabel*>(w)) QCOMPARE(l->text(), text);
    if (auto* b = qobject_cast<QPushButton*>(w)) QCOMPARE(b->text(), text);
    if (at_96_dpi(&d)) QCOMPARE(w->geometry(), pixels);
}

void Tst_About::window_of_the_box() {
    About_Dialog d;
    QCOMPARE(d.windowTitle(), QString::fromUtf8("À propos de Kalvenor_V2.5"));
    QVERIFY(d.Label1->text().startsWith(QStringLiteral("Auteur : ")));
    QVERIFY(d.Label1->text().size() > QStringLiteral("Auteur : ").size());
    QCOMPARE(d.lblTitle->palette().color(QPalette::WindowText), QColor(Qt::black));
    QCOMPARE(d.lblDescription->palette().color(QPalette::WindowText), QColor(Qt::black));
    const QImage icon = d.Image1->pixmap().toImage();
    QCOMPARE(icon.size(), QSize(32, 32));
    QVERIFY(!d.windowIcon().isNull());
    const Qt::WindowFlags f = d.windowFlags();
    QCOMPARE(f & Qt::WindowType_Mask, Qt::Dialog);
    QVERIFY(!(f & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
    QVERIFY(f & Qt::WindowCloseButtonHint);
    QVERIFY(d.isModal());
    QCOMPARE(d.minimumSize(), d.maximumSize());
    if (at_96_dpi(&d)) QCOMPARE(d.size(), QSize(382, 173));
}

void Tst_About::only_fermer_takes_the_focus() {
    About_Dialog d;
    d.show();
    QVERIFY(QTest::qWaitForWindowExposed(&d));
    for (QWidget* w : d.findChildren<QWidget*>())
        if (w != d.Command1) QCOMPARE(w->focusPolicy(), Qt::NoFocus);
    QCOMPARE(d.focusWidget(), static_cast<QWidget*>(d.Command1));
    QTest::keyClick(d.windowHandle(), Qt::Key_Tab);
    QCOMPARE(d.focusWidget(), static_cast<QWidget*>(d.Command1));
}

void Tst_About::closing_data() {
    QTest::addColumn<QString>("how");
    QTest::newRow("FERMER") << "FERMER";
    QTest::newRow("close box") << "close box";
    QTest::newRow("Enter on FERMER") << "Enter";
}

void Tst_About::closing() {
    QFETCH(QString, how);
    // The main window behind it, with a button the user tries while the box is up.
    QWidget owner;
    auto* behind = new QPushButton(QStringLiteral("behind"), &owner);
    behind->setGeometry(10, 10, 100, 30);
    owner.resize(400, 300);
    owner.show();
    QVERIFY(QTest::qWaitForWindowExposed(&owner));
    QSignalSpy behind_clicks(behind, &QPushButton::clicked);

    Qt_Dialogs dialogs;
    dialogs.setOwner(&owner);
    bool seen = false, was_modal = false;
    when_modal([&](QWidget* modal) {
        auto* about = qobject_cast<About_Dialog*>(modal);
        if (!about) return;
        seen = true;
        was_modal = about->isModal();
        QTest::mouseClick(owner.windowHandle(), Qt::LeftButton, {}, QPoint(50, 25));
        if (how == "FERMER")
            QTest::mouseClick(about->windowHandle(), Qt::LeftButton, {},
                              about->Command1->geometry().center());
        else if (how == "close box")
            about->windowHandle()->close();
        else
            QTest::keyClick(about->windowHandle(), Qt::Key_Return);
    });
    dialogs.Show_About();
    QVERIFY(seen);
    QVERIFY(was_modal);
    QCOMPARE(behind_clicks.count(), 0);
    QVERIFY(!QApplication::activeModalWidget());
    // The main window takes input again.
    QTest::mouseClick(owner.windowHandle(), Qt::LeftButton, {}, QPoint(50, 25));
    QCOMPARE(behind_clicks.count(), 1);
}

void Tst_About::fresh_dialog_each_time() {
    Qt_Dialogs dialogs;
    QStringList descriptions;
    auto look_and_close = [&](QWidget* modal) {
        auto* about = qobject_cast<About_Dialog*>(modal);
        if (!about) return;
        descriptions << about->lblDescription->text();
        about->lblDescription->setText(QStringLiteral("changed while open"));
        about->lblVersion->setText(QStringLiteral("changed while open"));
        about->Command1->click();
    };
    when_modal(look_and_close);
    dialogs.Show_About();
    QString version_second;
    when_modal([&](QWidget* modal) {
        auto* about = qobject_cast<About_Dialog*>(modal);
        if (about) version_second = about->lblVersion->text();
        look_and_close(modal);
    });
    dialogs.Show_About();
    QCOMPARE(descriptions, QStringList({QString(), QString()}));
    QCOMPARE(version_second, QStringLiteral("Version 2.5 du 17/07/06"));
}

void Tst_About::centred_on_the_main_window() {
    QWidget owner;
    owner.setGeometry(200, 150, 700, 500);
    owner.show();
    QVERIFY(QTest::qWaitForWindowExposed(&owner));
    Qt_Dialogs dialogs;
    dialogs.setOwner(&owner);
    QPoint centre;
    when_modal([&](QWidget* modal) {
        centre = modal->frameGeometry().center();
        modal->close();
    });
    dialogs.Show_About();
    const QPoint expected = owner.frameGeometry().center();
    QVERIFY2((centre - expected).manhattanLength() <= 3,
             qPrintable(QStringLiteral("centre %1,%2 expected %3,%4")
                            .arg(centre.x())
                            .arg(centre.y())
                            .arg(expected.x())
                            .arg(expected.y())));
}

void Tst_About::message_box_data() {
    QTest::addColumn<int>("style");
    QTest::addColumn<int>("icon");
    QTest::newRow("information, as for a bad port number") << 64 << int(QMessageBox::Information);
    QTest::newRow("exclamation") << 48 << int(QMessageBox::Warning);
    QTest::newRow("OK only, no icon") << 0 << int(QMessageBox::NoIcon);
}

void Tst_About::message_box() {
    QFETCH(int, style);
    QFETCH(int, icon);
    Qt_Dialogs dialogs;
    QString text, title;
    int shown_icon = -1, buttons = -1;
    bool has_ok = false;
    when_modal([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (!box) return;
        text = box->text();
        title = box->windowTitle();
        shown_icon = box->icon();
        buttons = box->buttons().size();
        has_ok = box->button(QMessageBox::Ok) != nullptr;
        box->button(QMessageBox::Ok)->click();
    });
    const QVariant result = dialogs.Msg_Box(QStringLiteral("Valeur entre 1 et 16 SVP..."), style,
                                            QStringLiteral("ERREUR"));
    QCOMPARE(text, QStringLiteral("Valeur entre 1 et 16 SVP..."));
    QCOMPARE(title, QStringLiteral("ERREUR"));
    QCOMPARE(shown_icon, icon);
    QCOMPARE(buttons, 1);
    QVERIFY(has_ok);
    QCOMPARE(result.toInt(), 1);
}

void Tst_About::input_box_data() {
    QTest::addColumn<QString>("preset");
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("result");
    QTest::newRow("OK keeps the preset") << "3"
                                         << "OK"
                                         << "3";
    QTest::newRow("typed answer") << "3"
                                  << "type 16"
                                  << "16";
    QTest::newRow("typed text is returned as typed") << "1"
                                                     << "type  5 "
                                                     << " 5 ";
    QTest::newRow("Annuler gives an empty answer") << "3"
                                                   << "Annuler"
                                                   << "";
    QTest::newRow("close box gives an empty answer") << "3"
                                                     << "close box"
                                                     << "";
    QTest::newRow("emptied then OK") << "3"
                                     << "type "
                                     << "";
}

void Tst_About::input_box() {
    QFETCH(QString, preset);
    QFETCH(QString, action);
    QFETCH(QString, result);
    Qt_Dialogs dialogs;
    QString prompt, title, shown_preset;
    bool has_cancel = false;
    when_modal([&](QWidget* modal) {
        auto* box = qobject_cast<QInputDialog*>(modal);
        if (!box) return;
        prompt = box->labelText();
        title = box->windowTitle();
        shown_preset = box->findChild<QLineEdit*>()->text();
        has_cancel = button_with_text(box, QStringLiteral("Annuler")) != nullptr;
        if (action.startsWith(QStringLiteral("type "))) {
            QLineEdit* edit = box->findChild<QLineEdit*>();
            edit->selectAll();
            QTest::keyClick(edit, Qt::Key_Backspace);
            QTest::keyClicks(edit, action.mid(5));
            button_with_text(box, QStringLiteral("OK"))->click();
        } else if (action == "close box") {
            box->windowHandle()->close();
        } else {
            button_with_text(box, action)->click();
        }
    });
    const QString answer =
        dialogs.Input_Box(QString::fromUtf8("Saisir N° de port série (1 à 16) SVP:"),
                          QStringLiteral("PORT SERIE"), preset);
    QCOMPARE(prompt, QString::fromUtf8("Saisir N° de port série (1 à 16) SVP:"));
    QCOMPARE(title, QStringLiteral("PORT SERIE"));
    QCOMPARE(shown_preset, preset);
    QVERIFY(has_cancel);
    QCOMPARE(answer, result);
}

QTEST_MAIN(Tst_About)
#include "tst_about.moc"
