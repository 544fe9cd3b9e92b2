// The port menu and the protocol phase options, with the settings file they write; the About
// box and the Qt message and input boxes as the user meets them.
#include "app/menus.h"
#include "app/shell.h"
#include "app/ui/about_dialog.h"
#include "app/ui/qt_dialogs.h"
#include "engine/requests.h"
#include "engine/tempo.h"
#include "support/harness.h"

#include <QApplication>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QWindow>
#include <QtTest>
#include <functional>

namespace {

QByteArray settings_file() {
    QFile f(QDir::current().filePath("Kalvenor-2.cfg"));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// Loaded with the board on COM`com`; the settings name COM1, whose opening fails unless
// com is 1.
struct Loaded : Harness {
    explicit Loaded(int com) : Harness(loopsim::default_loop(), com) {
        load();
        dialogs.messages.clear();
    }
};

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

class Tst_Menus : public QObject {
    Q_OBJECT

  private slots:
    void port_dialog_data() {
        QTest::addColumn<QStringList>("answers"); // the last one is taken
        QTest::addColumn<int>("port");
        QTest::newRow("Cancel") << QStringList{"", "1"} << 1;
        QTest::newRow("0") << QStringList{"0", "1"} << 1;
        QTest::newRow("17") << QStringList{"17", "1"} << 1;
        QTest::newRow("abc") << QStringList{"abc", "1"} << 1;
        QTest::newRow("-3") << QStringList{"-3", "1"} << 1;
        QTest::newRow("300") << QStringList{"300", "1"} << 1;
        QTest::newRow("0.4 rounds to 0") << QStringList{"0.4", "1"} << 1;
        QTest::newRow("refused twice") << QStringList{"", "17", "2"} << 2;
        QTest::newRow("16") << QStringList{"16"} << 16;
        QTest::newRow("blanks around 5") << QStringList{" 5 "} << 5;
        QTest::newRow("4.6 rounds to 5") << QStringList{"4.6"} << 5;
    }
    void port_dialog() {
        QFETCH(QStringList, answers);
        QFETCH(int, port);
        // The simulated board sits behind the port the dialog ends with.
        Loaded h(port);
        h.t.state.Com_Port = 12;
        h.dialogs.answers = answers;
        h.t.form.Serial_Com_Port_Mnu.click();
        QCOMPARE(h.dialogs.inputs.size(), answers.size());
        QCOMPARE(h.dialogs.inputs.last().preset, QStringLiteral("12"));
        QCOMPARE(h.dialogs.messages.size(), answers.size() - 1);
        QCOMPARE(settings_file(), " " + QByteArray::number(port) + "\r\n 1\r\n");
        QVERIFY(h.t.link.Comm1()->PortOpen());
        QCOMPARE(int(h.t.state.Task_State), int(Task::Probe_Interface));
        QVERIFY(h.t.form.Timer_Tache.isActive());
    }

    void phase_options() {
        Loaded h(2);
        h.t.state.Com_Port = 7;
        h.t.form.Phase_Option(2).set_value(1);
        QCOMPARE(int(h.t.state.Phase_Code), 8);
        QCOMPARE(settings_file(), QByteArray("\x20\x37\x0D\x0A\x20\x32\x0D\x0A"));
        QCOMPARE(h.t.form.Phase_Option(1).Value(), 0);
        h.t.form.Phase_Option(1).set_value(1);
        QCOMPARE(int(h.t.state.Phase_Code), 1);
        QCOMPARE(settings_file(), QByteArray("\x20\x37\x0D\x0A\x20\x31\x0D\x0A"));
    }

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

QTEST_MAIN(Tst_Menus)
#include "tst_menus.moc"
