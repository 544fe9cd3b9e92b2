// Switching a detector's optical or thermal element from the panel's check boxes, against the
// simulated board.
#include "support/harness.h"
#include "support/link_wiring.h"

#include <QtTest>

namespace {

const QByteArray Probe("\x01");

QByteArray Write(int adr, int data) {
    return bytes({0x41, 0x96, adr, data, 0x41, 0x85, adr, 0x00});
}

// Identity, parameters and mode of a DLX508B, as the readout asks for them.
QByteArray Readout(int adr) {
    QByteArray out;
    for (int code : {0x14, 0x15, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06,
                     0x07, 0x0F, 0x18})
        out += bytes({0x40, code, adr, 0x00});
    return out;
}

// Two DLX508B detectors, connected, and the panel showing detector `adr` with the boxes a
// readout of `mode` would have left.
bool Panel(Harness& h, int adr, int mode, int mode2 = 0) {
    loopsim::Detector d;
    d.type_code = 0x1A;
    d.params = {{1, 40}, {2, 10}, {3, 3}, {4, 2}, {5, 7}, {6, 1}, {7, 4}, {12, 90}, {15, 5}};
    h.board.loop().detectors[1] = h.board.loop().detectors[2] = d;
    h.board.loop().detectors[1].mode = uint8_t(mode);
    h.board.loop().detectors[2].mode = uint8_t(mode2);
    h.load();
    if (!h.run_until([&h] { return h.t.S.Task_State == Task::Idle_Status && h.t.S.Connected; },
                     5000))
        return false;
    Tool& t = h.t;
    t.S.Adr_Count = 2;
    t.S.Adr_Type[0] = t.S.Adr_Type[1] = 3;
    t.S.Sel_Adr = uint8_t(adr);
    t.F.Status_Frame.setVisible(true);
    t.F.Param_Lbl(0).setVisible(true);
    t.S.Check_Lock = true;
    t.F.Opto_Check.setValue(mode & 0x02 ? 0 : 1);
    t.F.Thermo_Check.setValue(mode & 0x01 ? 0 : 1);
    t.S.Sensor_Mode = uint8_t(mode);
    t.S.Check_Lock = false;
    h.board.clear_traffic();
    return true;
}

// The user's click on a check box: the window turns its value over.
void Toggle(Control& box) {
    box.setValue(1 - box.Value());
}

bool Idle(Harness& h) {
    return h.t.S.Task_State == Task::Idle_Status &&
           h.t.Screen.MousePointer() == Screen_Pointer::Default;
}

} // namespace

class Tst_Mode : public QObject {
    Q_OBJECT

  private slots:
    void modeChange_data() {
        QTest::addColumn<int>("mode"); // shown before the click
        QTest::addColumn<bool>("optique");
        QTest::addColumn<int>("data"); // written with 0x96; the click is refused if it is `mode`
        QTest::newRow("optique off") << 0x00 << true << 0x02;
        QTest::newRow("thermique off") << 0x00 << false << 0x01;
        QTest::newRow("optique back on") << 0x02 << true << 0x00;
        QTest::newRow("thermique off refused") << 0x02 << false << 0x02;
        QTest::newRow("optique off refused") << 0x01 << true << 0x01;
    }
    void modeChange() {
        QFETCH(int, mode);
        QFETCH(bool, optique);
        QFETCH(int, data);
        const bool refused = mode == data;
        Harness h;
        QVERIFY(Panel(h, 2, mode));
        Line_Clock line(h.board);
        Control& box = optique ? h.t.F.Opto_Check : h.t.F.Thermo_Check;
        const int before = box.Value();
        Toggle(box);
        QCOMPARE(box.Value(), refused ? before : 1 - before);
        QCOMPARE(int(h.t.S.Sensor_Mode), data);
        QCOMPARE(h.dialogs.messages.size(), int(refused));
        for (const auto& m : h.dialogs.messages)
            QVERIFY(m.prompt == QString::fromUtf8("Il doit y avoir au moins un capteur activé !") &&
                    m.title == QString::fromUtf8("Sélection Capteur") && m.style == 64);
        // The write, its 100 ms pause, the commit, then a readout of the detector.
        QVERIFY(h.run_until([&] { return Idle(h); }, 10000));
        QCOMPARE(h.board.received(), Write(2, data) + Readout(2) + Probe);
        QVERIFY2(line.gap_before(4) >= 95, qPrintable(QString::number(line.gap_before(4))));
        QCOMPARE(int(h.board.loop().detectors[2].mode), data);
        QCOMPARE(h.t.F.Opto_Check.Value(), data & 0x02 ? 0 : 1);
        QCOMPARE(h.t.F.Thermo_Check.Value(), data & 0x01 ? 0 : 1);
    }

    // The readout of another detector turns the boxes over: nothing is written.
    void noWriteWhileReadoutSetsBoxes_data() {
        QTest::addColumn<int>("mode1");
        QTest::addColumn<int>("mode2");
        QTest::newRow("thermique off, then optique off") << 0x01 << 0x02;
        QTest::newRow("both off, then both on") << 0x03 << 0x04;
    }
    void noWriteWhileReadoutSetsBoxes() {
        QFETCH(int, mode1);
        QFETCH(int, mode2);
        Harness h;
        QVERIFY(Panel(h, 1, mode1, mode2));
        h.t.F.Adr_Box(2).click();
        QVERIFY(h.run_until([&] { return Idle(h) && h.t.S.Sel_Adr == 2; }, 10000));
        QCOMPARE(h.board.received(), Readout(2) + Probe);
        QCOMPARE(h.t.F.Opto_Check.Value(), mode2 & 0x02 ? 0 : 1);
        QCOMPARE(h.t.F.Thermo_Check.Value(), mode2 & 0x01 ? 0 : 1);
        QCOMPARE(int(h.board.loop().detectors[1].mode), mode1);
        QCOMPARE(int(h.board.loop().detectors[2].mode), mode2);
        QVERIFY(h.dialogs.messages.isEmpty());
    }

    // Optique unticked while the probe waits for its answer: the idle state the probe then
    // chooses must not replace the write. After a click on cell 2 the boxes still show
    // detector 1 until the readout: a box clicked then writes to neither detector.
    void clickDuringSlowReply_data() {
        QTest::addColumn<bool>("then_cell");
        QTest::addColumn<QByteArray>("wire");
        QTest::newRow("box") << false << Probe + Write(1, 0x02);
        QTest::newRow("cell then box") << true << Probe + Readout(2) + Probe;
    }
    void clickDuringSlowReply() {
        QFETCH(bool, then_cell);
        QFETCH(QByteArray, wire);
        Harness h;
        QVERIFY(Panel(h, 1, 0x00));
        h.board.set_reply_delay(40);
        h.t.S.Task_State = Task::Probe_Interface;
        QObject context;
        QObject::connect(&h.board, &loopsim::Board::byte_received, &context, [&](quint8) {
            if (h.board.received() != Probe) return;
            if (then_cell) h.t.F.Adr_Box(2).click();
            Toggle(h.t.F.Opto_Check);
            h.board.set_reply_delay(0);
        });
        QVERIFY(h.run_until([&] { return h.board.received().size() >= wire.size(); }, 20000));
        QVERIFY(h.run_until([&] { return h.t.S.Task_State != Task::Mode_Write; }, 1000));
        QCOMPARE(h.board.received(), wire);
        QCOMPARE(int(h.board.loop().detectors[1].mode), then_cell ? 0x00 : 0x02);
    }

    // Whatever Sensor_Mode holds, the detector is only ever sent 0x00, 0x01 or 0x02.
    void modeByteSent_data() {
        QTest::addColumn<int>("sensor_mode");
        QTest::addColumn<int>("data");
        QTest::newRow("both bits: thermique off") << 0x03 << 0x01;
        QTest::newRow("statique bit") << 0x06 << 0x02;
        QTest::newRow("every bit") << 0xFF << 0x01;
    }
    void modeByteSent() {
        QFETCH(int, sensor_mode);
        QFETCH(int, data);
        Harness h;
        QVERIFY(Panel(h, 1, 0x00));
        h.t.S.Sensor_Mode = uint8_t(sensor_mode);
        h.t.S.Task_State = Task::Mode_Write;
        QVERIFY(h.run_until([&] { return h.board.received().size() >= 8; }, 5000));
        QCOMPARE(h.board.received(), Write(1, data));
    }
};

QTEST_GUILESS_MAIN(Tst_Mode)
#include "tst_mode.moc"
