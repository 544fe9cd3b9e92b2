// The port menu, the protocol phase options, the function keys and the mouse pointer handlers,
// reached through the controls the load sequence has wired; the About box and the Qt message and
// input boxes as the user meets them.
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

QByteArray Settings_File() {
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
    void portDialog_data() {
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
    void portDialog() {
        QFETCH(QStringList, answers);
        QFETCH(int, port);
        // The simulated board sits behind the port the dialog ends with.
        Loaded h(port);
        h.t.state.Com_Port = 12;
        h.dialogs.answers = answers;
        h.t.form.Serial_Com_Port_Mnu.click();
        QCOMPARE(h.dialogs.inputs.size(), answers.size());
        QCOMPARE(h.dialogs.inputs.last().prompt,
                 QString::fromUtf8("Saisir N° de port série (1 à 16) SVP:"));
        QCOMPARE(h.dialogs.inputs.last().title, QStringLiteral("PORT SERIE"));
        QCOMPARE(h.dialogs.inputs.last().preset, QStringLiteral("12"));
        QCOMPARE(h.dialogs.messages.size(), answers.size() - 1);
        for (const auto& m : h.dialogs.messages)
            QVERIFY(m.prompt == "Valeur entre 1 et 16 SVP..." && m.title == "ERREUR" &&
                    m.style == 64);
        QCOMPARE(Settings_File(), " " + QByteArray::number(port) + "\r\n 1\r\n");
        QVERIFY(h.t.link.Comm1()->PortOpen());
        QCOMPARE(int(h.t.state.Task_State), int(Task::Probe_Interface));
        QVERIFY(h.t.form.Timer_Tache.isActive());
    }

    void samePortReopensAndSavesAgain() {
        Loaded h(1);
        QVERIFY(h.run_until([&] { return h.t.state.Connected; }, 5000));
        QVERIFY(QFile::remove("Kalvenor-2.cfg"));
        h.board.clear_traffic();
        h.dialogs.answers = QStringList{"1"};
        h.t.form.Serial_Com_Port_Mnu.click();
        QCOMPARE(Settings_File(), QByteArray(" 1\r\n 1\r\n"));
        QVERIFY(!h.t.state.Connected);
        QVERIFY(h.run_until([&] { return h.t.state.Connected; }, 5000));
        QVERIFY(h.board.received().startsWith('\x01'));
    }

    // The port is not reopened under a running step: the number is saved at once and the
    // opening waits for the step to end.
    void reopenWaitsForRunningStep() {
        Loaded h(2);
        h.t.state.Task_State = Task::Idle_Status;
        h.dialogs.answers = QStringList{"7"};
        {
            Line::Step_Scope step(h.t.link);
            Serial_Com_Port_Mnu_Click(h.t);
            QCOMPARE(Settings_File(), QByteArray(" 7\r\n 1\r\n"));
            QVERIFY(h.t.state.Task_State == Task::Idle_Status && h.dialogs.messages.isEmpty());
        }
        QCOMPARE(int(h.t.state.Task_State), int(Task::Probe_Interface));
        QCOMPARE(h.dialogs.messages.size(), 1); // COM7 cannot be opened here
    }

    // The port reopened during a search or a simulation ends it as it ends itself: nothing it
    // locked or hid stays so, and F5 starts a new search. On a clock five times faster.
    void reopenEndsTheOperation_data() {
        QTest::addColumn<bool>("simulation");
        QTest::newRow("search") << false;
        QTest::newRow("simulation") << true;
    }
    void reopenEndsTheOperation() {
        QFETCH(bool, simulation);
        Loaded h(1);
        set_clock_divider(h.t, 5);
        QVERIFY(h.run_until([&] { return h.t.state.Task_State == Task::Idle_Status; }, 5000));
        if (simulation) {
            h.t.state.Adr_Count = 3;
            h.t.form.Adr_Status_Cde.set_visible(true);
            h.t.form.Adr_Status_Cde.click();
        } else {
            h.t.form.Start_Bus_Cmd.click();
        }
        QVERIFY(h.run_until(
            [&] {
                return h.board.received().count(char(0x40)) +
                           h.board.received().count(char(0x41)) >=
                       4;
            },
            5000));
        h.dialogs.answers = QStringList{"1"};
        h.t.form.Serial_Com_Port_Mnu.click();
        QVERIFY(h.run_until([&] { return h.t.state.Task_State == Task::Idle_Status; }, 5000));
        const Bus_Form& f = h.t.form;
        QVERIFY(!h.t.state.Grid_Locked && !h.t.state.Simulation_Active && !f.Lgd_Lbl(0).Visible());
        QVERIFY(f.Start_Bus_Cmd.Visible() && f.Adr_Status_Cde.Visible());
        QCOMPARE(f.Adr_Status_Cde.Caption(), QStringLiteral("ETAT DES ADRESSES (F9)"));
        QCOMPARE(f.Current_Operation_Lbl.Caption(), QStringLiteral("Attente Commande"));
        QCOMPARE(f.Search_Stop_Lbl.Visible(), !simulation);
        Form_KeyDown(h.t, vbKeyF5, 0);
        QVERIFY(h.run_until([&] { return h.t.state.Task_State == Task::Search_Addresses; }, 5000));
    }

    void phaseOptions() {
        Loaded h(2);
        h.t.state.Com_Port = 7;
        h.t.form.Phase_Option(2).set_value(1);
        QCOMPARE(int(h.t.state.Phase_Code), 8);
        QCOMPARE(Settings_File(), QByteArray("\x20\x37\x0D\x0A\x20\x32\x0D\x0A"));
        QCOMPARE(h.t.form.Phase_Option(1).Value(), 0);
        h.t.form.Phase_Option(1).set_value(1);
        QCOMPARE(int(h.t.state.Phase_Code), 1);
        QCOMPARE(Settings_File(), QByteArray("\x20\x37\x0D\x0A\x20\x31\x0D\x0A"));
    }

    void functionKeys_data() {
        QTest::addColumn<QList<int>>("key");  // code, shift, whether its button is shown
        QTest::addColumn<int>("state_after"); // from 42
        // Without a port the search's re-arm fails at once and sends the task to state 1.
        QTest::newRow("F5") << QList<int>{0x74, 0, 1} << 1;
        QTest::newRow("F5, button hidden") << QList<int>{0x74, 0, 0} << 42;
        QTest::newRow("F9 with shift") << QList<int>{0x78, 1, 1} << 7;
        QTest::newRow("F9, button hidden") << QList<int>{0x78, 0, 0} << 42;
        QTest::newRow("F6") << QList<int>{0x75, 0, 1} << 42;
    }
    void functionKeys() {
        QFETCH(QList<int>, key);
        QFETCH(int, state_after);
        Loaded h(2);
        h.t.state.Adr_Count = 3;
        // Only the key's own button decides; the other one shows the opposite.
        h.t.form.Start_Bus_Cmd.set_visible(key[2] == (key[0] == 0x74));
        h.t.form.Adr_Status_Cde.set_visible(key[2] == (key[0] != 0x74));
        h.t.state.Task_State = 42;
        Form_KeyDown(h.t, key[0], key[1]);
        QCOMPARE(int(h.t.state.Task_State), state_after);
    }

    void closeButtonAndPointer() {
        Loaded h(2);
        h.t.form.Status_Frame.set_visible(true);
        h.t.screen.set_mouse_pointer(Screen_Pointer::Hourglass);
        h.t.form.Close_Cmd.click();
        QVERIFY(!h.t.form.Status_Frame.Visible() && !h.t.state.Quit_Flag);
        QCOMPARE(h.t.screen.MousePointer(), int(Screen_Pointer::Default));
    }

    void texts_and_caption() {
        About_Dialog d;
        QCOMPARE(
            QStringList({d.windowTitle(), d.lblTitle->text(), d.lblVersion->text(),
                         d.lblDescription->text(), d.Label1->text().left(9), d.Command1->text()})
                .join('|'),
            QString::fromUtf8("À propos de Kalvenor_V2.5|Kalvenor_V2.5|Version 2.5 du "
                              "17/07/06||Auteur : |FERMER"));
        QVERIFY(d.Label1->text().size() > 9);
        QCOMPARE(d.Image1->pixmap().size(), QSize(32, 32));
        QVERIFY(!(d.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
        if (d.logicalDpiX() == 96) QCOMPARE(d.size(), QSize(382, 173));
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
            QCOMPARE(box->windowTitle(), title);
            if (auto* message = qobject_cast<QMessageBox*>(box)) {
                QCOMPARE(message->text(), text);
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
        const QString got = style ? dialogs.msg_box(text, style, title).toString()
                                  : dialogs.input_box("Port ?", title, "3");
        QCOMPARE(got, answer);
    }
};

QTEST_MAIN(Tst_Menus)
#include "tst_menus.moc"
