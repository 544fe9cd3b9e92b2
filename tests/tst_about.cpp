// The About box and the message and input boxes, as the user meets them.
#include "app/ui/about_dialog.h"
#include "app/ui/qt_dialogs.h"

#include <QApplication>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QWindow>
#include <QtTest>
#include <functional>

namespace {

// Runs `act` on the modal box once it is up inside the blocking call under test, then closes
// whatever `act` left open so that no test can hang.
void when_modal(std::function<void(QWidget*)> act) {
    QTimer::singleShot(50, [act] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal) {
            QApplication::closeAllWindows();
            QFAIL("no modal box");
        }
        QPointer<QWidget> guard(modal);
        act(modal);
        if (guard && guard->isVisible()) guard->close();
    });
}

QPushButton* button(QWidget* box, const QString& text) {
    for (QPushButton* b : box->findChildren<QPushButton*>())
        if (b->text() == text) return b;
    return nullptr;
}

} // namespace

class Tst_About : public QObject {
    Q_OBJECT
  private slots:
    void texts_and_caption() {
        About_Dialog d;
        QCOMPARE(d.windowTitle(), QString::fromUtf8("À propos de Kalvenor_V2.5"));
        QCOMPARE(d.lblTitle->text(), QStringLiteral("Kalvenor_V2.5"));
        QCOMPARE(d.lblVersion->text(), QStringLiteral("Version 2.5 du 17/07/06"));
        QCOMPARE(d.lblDescription->text(), QString());
        QVERIFY(d.Label1->text().startsWith(QStringLiteral("Auteur : ")));
        QVERIFY(d.Label1->text().size() > 9);
        QCOMPARE(d.Command1->text(), QStringLiteral("FERMER"));
        QCOMPARE(d.Image1->pixmap().size(), QSize(32, 32));
        QVERIFY(!(d.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
        if (d.logicalDpiX() == 96) QCOMPARE(d.size(), QSize(382, 173));
    }

    void closing_data() {
        QTest::addColumn<QString>("how");
        QTest::newRow("FERMER") << "FERMER";
        QTest::newRow("close box") << "close box";
        QTest::newRow("Enter") << "Enter";
    }
    void closing() {
        QFETCH(QString, how);
        QWidget owner;
        auto* behind = new QPushButton(QStringLiteral("behind"), &owner);
        behind->setGeometry(10, 10, 100, 30);
        owner.show();
        QVERIFY(QTest::qWaitForWindowExposed(&owner));
        QSignalSpy behind_clicks(behind, &QPushButton::clicked);
        Qt_Dialogs dialogs;
        dialogs.setOwner(&owner);
        bool seen = false;
        when_modal([&](QWidget* modal) {
            auto* about = qobject_cast<About_Dialog*>(modal);
            QVERIFY(about);
            seen = true;
            QTest::mouseClick(owner.windowHandle(), Qt::LeftButton, {}, QPoint(50, 25));
            if (how == "FERMER")
                QTest::mouseClick(about->windowHandle(), Qt::LeftButton, {},
                                  about->Command1->geometry().center());
            else if (how == "close box")
                about->windowHandle()->close();
            else
                QTest::keyClick(about->windowHandle(), Qt::Key_Return);
            QVERIFY(!about->isVisible());
        });
        dialogs.Show_About();
        QVERIFY(seen);
        QCOMPARE(behind_clicks.count(), 0); // modal
        QTest::mouseClick(owner.windowHandle(), Qt::LeftButton, {}, QPoint(50, 25));
        QCOMPARE(behind_clicks.count(), 1);
    }

    // The boxes the port dialog and the error messages use: one OK button, the icon asked for,
    // and an empty answer whichever way the input box is cancelled.
    void message_and_input_boxes_data() {
        QTest::addColumn<int>("style"); // 0: an input box, preset "3"
        QTest::addColumn<int>("icon");
        QTest::addColumn<QString>("press"); // empty: the close box
        QTest::addColumn<QString>("answer");
        QTest::newRow("vbInformation") << 64 << int(QMessageBox::Information) << "OK"
                                       << "1";
        QTest::newRow("vbExclamation") << 48 << int(QMessageBox::Warning) << "OK"
                                       << "1";
        QTest::newRow("input, OK") << 0 << 0 << "OK"
                                   << "3";
        QTest::newRow("input, Annuler") << 0 << 0 << "Annuler"
                                        << "";
        QTest::newRow("input, close box") << 0 << 0 << ""
                                          << "";
    }
    void message_and_input_boxes() {
        QFETCH(int, style);
        QFETCH(int, icon);
        QFETCH(QString, press);
        QFETCH(QString, answer);
        Qt_Dialogs dialogs;
        when_modal([&](QWidget* box) {
            QCOMPARE(box->windowTitle(), QStringLiteral("PORT SERIE"));
            if (auto* message = qobject_cast<QMessageBox*>(box)) {
                QCOMPARE(message->text(), QStringLiteral("Valeur entre 1 et 16 SVP..."));
                QCOMPARE(int(message->icon()), icon);
                QCOMPARE(message->buttons().size(), 1);
            } else {
                QCOMPARE(qobject_cast<QInputDialog*>(box)->labelText(), QStringLiteral("Port ?"));
            }
            if (press.isEmpty())
                box->windowHandle()->close();
            else
                button(box, press)->click();
        });
        const QString got =
            style ? dialogs
                        .Msg_Box(QStringLiteral("Valeur entre 1 et 16 SVP..."), style,
                                 QStringLiteral("PORT SERIE"))
                        .toString()
                  : dialogs.Input_Box(QStringLiteral("Port ?"), QStringLiteral("PORT SERIE"),
                                      QStringLiteral("3"));
        QCOMPARE(got, answer);
    }
};

QTEST_MAIN(Tst_About)
#include "tst_about.moc"
