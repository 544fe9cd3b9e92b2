// The About box and the Qt message and input boxes as the user meets them.
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

class Tst_Dialogs : public QObject {
    Q_OBJECT

  private slots:
    void closing_data() {
        QTest::addColumn<QString>("how");
        QTest::newRow("FERMER") << "FERMER";
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
        dialogs.set_owner(&owner);
        bool seen = false;
        when_modal([&](QWidget* modal) {
            auto* about = qobject_cast<About_Dialog*>(modal);
            QVERIFY(about);
            seen = true;
            QTest::mouseClick(owner.windowHandle(), Qt::LeftButton, {}, QPoint(50, 25));
            if (how == "FERMER")
                QTest::mouseClick(about->windowHandle(), Qt::LeftButton, {},
                                  about->Command1->geometry().center());
            else
                QTest::keyClick(about->windowHandle(), Qt::Key_Return);
            QVERIFY(!about->isVisible());
        });
        dialogs.show_about();
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
        const auto row = [](const char* name, int style, int icon, const char* press,
                            const char* answer) {
            QTest::newRow(name) << style << icon << QString(press) << QString(answer);
        };
        row("vbInformation", 64, QMessageBox::Information, "OK", "1");
        row("vbExclamation", 48, QMessageBox::Warning, "OK", "1");
        row("input, OK", 0, 0, "OK", "3");
        row("input, Annuler", 0, 0, "Annuler", "");
        row("input, close box", 0, 0, "", "");
    }
    void message_and_input_boxes() {
        QFETCH(int, style);
        QFETCH(int, icon);
        QFETCH(QString, press);
        QFETCH(QString, answer);
        const QString title = "PORT SERIE", text = "Valeur entre 1 et 16 SVP...";
        Qt_Dialogs dialogs;
        when_modal([&](QWidget* box) {
            if (auto* message = qobject_cast<QMessageBox*>(box)) {
                QCOMPARE(int(message->icon()), icon);
                QCOMPARE(message->buttons().size(), 1);
            }
            if (press.isEmpty())
                box->windowHandle()->close();
            else
                button(box, press)->click();
        });
        const QString got = style ? dialogs.msg_box(text, style, title).toString()
                                  : dialogs.input_box("Port ?", title, "3");
        QCOMPARE(got, answer);
    }
};

QTEST_MAIN(Tst_Dialogs)
#include "tst_dialogs.moc"
