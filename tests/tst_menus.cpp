// The port menu, the protocol phase options, the function keys and the other small handlers of
// the main window, reached through the controls the load sequence has wired.
#include "app/menus.h"
#include "app/shell.h"
#include "app/tool.h"
#include "engine/requests.h"
#include "support/harness.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QByteArray Settings_File() {
    QFile f(QDir::current().filePath("Kalvenor-2.cfg"));
    if (!f.open(QIODevice::ReadOnly)) return QByteArray("<missing>");
    return f.readAll();
}

const QString Port_Prompt =
    QString::fromUtf8("Saisir N\u00b0 de port s\u00e9rie (1 \u00e0 16) SVP:");

// A loaded tool without a serial port, in a fresh current directory.
struct Plain_Tool {
    Plain_Tool() : old(QDir::currentPath()) {
        QDir::setCurrent(dir.path());
        t.Dlg = &dialogs;
        Form_Load(t);
        dialogs.messages.clear(); // the failed opening of COM1
    }
    ~Plain_Tool() { QDir::setCurrent(old); }
    QTemporaryDir dir;
    QString old;
    Test_Dialogs dialogs;
    Tool t;
};

} // namespace

class Tst_Menus : public QObject {
    Q_OBJECT

  private slots:
    void portDialog_data() {
        QTest::addColumn<QStringList>("answers");
        QTest::addColumn<int>("port");
        QTest::addColumn<int>("refusals");
        QTest::newRow("Cancel, then 1") << QStringList{"", "1"} << 1 << 1;
        QTest::newRow("0") << QStringList{"0", "1"} << 1 << 1;
        QTest::newRow("17") << QStringList{"17", "1"} << 1 << 1;
        QTest::newRow("abc") << QStringList{"abc", "1"} << 1 << 1;
        QTest::newRow("-3") << QStringList{"-3", "1"} << 1 << 1;
        QTest::newRow("300") << QStringList{"300", "1"} << 1 << 1;
        QTest::newRow("0.4 rounds to 0") << QStringList{"0.4", "1"} << 1 << 1;
        QTest::newRow("blanks only") << QStringList{"   ", "1"} << 1 << 1;
        QTest::newRow("1e9") << QStringList{"1e9", "1"} << 1 << 1;
        QTest::newRow("refused three times") << QStringList{"", "0", "17", "2"} << 2 << 3;
        QTest::newRow("16") << QStringList{"16"} << 16 << 0;
        QTest::newRow("16.4 rounds to 16") << QStringList{"16.4"} << 16 << 0;
        QTest::newRow("blanks around 5") << QStringList{" 5 "} << 5 << 0;
        QTest::newRow("4.6 rounds to 5") << QStringList{"4.6"} << 5 << 0;
        QTest::newRow("3abc begins with 3") << QStringList{"3abc"} << 3 << 0;
    }
    void portDialog() {
        QFETCH(QStringList, answers);
        QFETCH(int, port);
        QFETCH(int, refusals);
        // The simulated board sits behind the port the dialog ends with.
        Harness h(loopsim::default_loop(), port);
        Form_Load(h.t);
        h.t.S.Com_Port = 1;
        h.dialogs.messages.clear();
        h.dialogs.answers = answers;

        h.t.F.Serial_Com_Port_Mnu.click();

        QCOMPARE(h.dialogs.unexpected_inputs, 0);
        QVERIFY(h.dialogs.answers.isEmpty());
        QCOMPARE(h.dialogs.inputs.size(), refusals + 1);
        for (const auto& in : h.dialogs.inputs) {
            QCOMPARE(in.prompt, Port_Prompt);
            QCOMPARE(in.title, QStringLiteral("PORT SERIE"));
            QCOMPARE(in.preset, QStringLiteral("1"));
        }
        QCOMPARE(h.dialogs.messages.size(), refusals);
        for (const auto& m : h.dialogs.messages) {
            QCOMPARE(m.prompt, QStringLiteral("Valeur entre 1 et 16 SVP..."));
            QCOMPARE(m.title, QStringLiteral("ERREUR"));
            QCOMPARE(m.style, 64);
        }
        if (refusals > 0) QCOMPARE(h.t.S.Last_Result.toInt(), 1);
        QCOMPARE(int(h.t.S.Com_Port), port);
        QCOMPARE(Settings_File(), QByteArray(" ") + QByteArray::number(port) + "\r\n 1\r\n");
        QVERIFY(h.t.Comm1->PortOpen());
        QCOMPARE(int(h.t.S.Task_State), int(Task::Probe_Interface));
        QVERIFY(h.t.F.Timer_Tache.isActive());
    }

    void presetIsCurrentPort() {
        Plain_Tool p;
        p.t.S.Com_Port = 12;
        p.dialogs.answers = QStringList{"x", "3"};
        Serial_Com_Port_Mnu_Click(p.t);
        QCOMPARE(p.dialogs.inputs.size(), 2);
        QCOMPARE(p.dialogs.inputs[0].preset, QStringLiteral("12"));
        QCOMPARE(p.dialogs.inputs[1].preset, QStringLiteral("12"));
        // COM3 does not exist here: the number is saved all the same.
        QCOMPARE(Settings_File(), QByteArray(" 3\r\n 1\r\n"));
        QCOMPARE(p.dialogs.messages.last().title, QStringLiteral("Erreur Port Com"));
    }

    void samePortReopensAndSavesAgain() {
        Harness h;
        h.load();
        h.connect_board();
        QVERIFY(h.t.S.Connected);
        QVERIFY(QFile::remove(QDir::current().filePath("Kalvenor-2.cfg")));
        h.board.clear_traffic();
        h.dialogs.answers = QStringList{"1"};
        h.t.F.Serial_Com_Port_Mnu.click();
        QCOMPARE(Settings_File(), QByteArray(" 1\r\n 1\r\n"));
        QVERIFY(!h.t.S.Connected);
        QCOMPARE(int(h.t.S.Task_State), int(Task::Probe_Interface));
        QVERIFY(h.t.Comm1->PortOpen());
        QVERIFY(h.run_until([&] { return h.t.S.Connected; }, 5000));
        QVERIFY(h.board.received().startsWith('\x01'));
    }

    // The port is not reopened under a running step: the number is saved at once and the
    // opening waits for the step to end.
    void reopenWaitsForRunningStep() {
        Plain_Tool p;
        p.t.S.Task_State = Task::Idle_Status;
        p.dialogs.answers = QStringList{"7"};
        {
            Bus_Busy_Scope step(p.t);
            Serial_Com_Port_Mnu_Click(p.t);
            QCOMPARE(int(p.t.S.Com_Port), 7);
            QCOMPARE(Settings_File(), QByteArray(" 7\r\n 1\r\n"));
            QCOMPARE(int(p.t.S.Task_State), int(Task::Idle_Status));
            QVERIFY(p.dialogs.messages.isEmpty());
        }
        QCOMPARE(int(p.t.S.Task_State), int(Task::Probe_Interface));
        QCOMPARE(p.dialogs.messages.size(), 1); // COM7 cannot be opened here
    }

    void phaseOptions() {
        Plain_Tool p;
        p.t.S.Com_Port = 7;
        QCOMPARE(p.t.F.Phase_Option(1).Value(), 1);

        p.t.F.Phase_Option(2).setValue(1);
        QCOMPARE(int(p.t.S.Phase_Number), 2);
        QCOMPARE(int(p.t.S.Phase_Code), 8);
        QCOMPARE(Settings_File(), QByteArray("\x20\x37\x0D\x0A\x20\x32\x0D\x0A"));
        QCOMPARE(p.t.F.Phase_Option(1).Value(), 0);

        p.t.F.Phase_Option(1).setValue(1);
        QCOMPARE(int(p.t.S.Phase_Number), 1);
        QCOMPARE(int(p.t.S.Phase_Code), 1);
        QCOMPARE(Settings_File(), QByteArray("\x20\x37\x0D\x0A\x20\x31\x0D\x0A"));
        QCOMPARE(p.t.F.Phase_Option(2).Value(), 0);
    }

    void functionKeys_data() {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("shift");
        QTest::addColumn<bool>("search_shown");
        QTest::addColumn<bool>("status_shown");
        QTest::addColumn<int>("state_after"); // from 42
        QTest::addColumn<bool>("simulating");
        // Without a port the search's re-arm fails at once and sends the task to state 1.
        QTest::newRow("F5, button shown") << 116 << 0 << true << false << 1 << false;
        QTest::newRow("F5, button hidden") << 116 << 0 << false << true << 42 << false;
        QTest::newRow("F9, button shown") << 120 << 0 << false << true << 7 << true;
        QTest::newRow("F9 with shift") << 120 << 1 << false << true << 7 << true;
        QTest::newRow("F9, button hidden") << 120 << 0 << true << false << 42 << false;
        QTest::newRow("F6") << 117 << 0 << true << true << 42 << false;
        QTest::newRow("F4") << 115 << 0 << true << true << 42 << false;
        QTest::newRow("letter t") << 84 << 0 << true << true << 42 << false;
    }
    void functionKeys() {
        QFETCH(int, key);
        QFETCH(int, shift);
        QFETCH(bool, search_shown);
        QFETCH(bool, status_shown);
        QFETCH(int, state_after);
        QFETCH(bool, simulating);
        Plain_Tool p;
        p.t.S.Adr_Count = 3;
        p.t.F.Start_Bus_Cmd.setVisible(search_shown);
        p.t.F.Adr_Status_Cde.setVisible(status_shown);
        p.t.S.Task_State = 42;
        Form_KeyDown(p.t, key, shift);
        QCOMPARE(int(p.t.S.Task_State), state_after);
        QCOMPARE(bool(p.t.S.Simulation_Active), simulating);
    }

    void closePanelAndPointer() {
        Plain_Tool p;
        p.t.F.Status_Frame.setVisible(true);
        p.t.Screen.setMousePointer(Screen_Pointer::Hourglass);
        p.t.F.Close_Cmd.click();
        QVERIFY(!p.t.F.Status_Frame.Visible());
        QCOMPARE(p.t.Screen.MousePointer(), int(Screen_Pointer::Default));
        QVERIFY(!p.t.S.Quit_Flag);
        QVERIFY(!p.t.F.Unloaded());

        p.t.Screen.setMousePointer(Screen_Pointer::Hourglass);
        Status_Frame_MouseMove(p.t);
        QCOMPARE(p.t.Screen.MousePointer(), int(Screen_Pointer::Default));
    }

    void aboutOpensOnceEvenAfterSecondLoad() {
        Plain_Tool p;
        Form_Load(p.t);
        p.t.F.About_Mnu.click();
        QCOMPARE(p.dialogs.about_shown, 1);
    }

    void quitMenu() {
        Plain_Tool p;
        p.t.S.Task_State = Task::Simulation_Poll;
        p.t.F.Quit_Mnu.click();
        QCOMPARE(int(p.t.S.Task_State), int(Task::Quit));
        QVERIFY(p.t.S.Quit_Flag);
        QVERIFY(p.t.F.Unloaded());
    }

    // Any unload of the window, however it comes, ends the program and keeps the task state.
    void unloadRaisesQuit() {
        Plain_Tool p;
        p.t.S.Task_State = Task::Search_Addresses;
        p.t.F.Unload();
        QVERIFY(p.t.S.Quit_Flag);
        QCOMPARE(int(p.t.S.Task_State), int(Task::Search_Addresses));
    }
};

QTEST_GUILESS_MAIN(Tst_Menus)
#include "tst_menus.moc"
