// Requests from the detector panel while a search runs: the search keeps the bus to its end.
#include "support/harness.h"

#include <QtTest>

namespace {

loopsim::Loop three_dlx() {
    loopsim::Loop loop;
    for (int a = 1; a <= 3; ++a) {
        loopsim::Detector d;
        d.type_code = 0x1A;
        d.params = {{1, 40}, {2, 20}, {3, 3}, {4, 2}, {5, 9}, {6, 1}, {7, 4}, {12, 100}, {15, 6}};
        loop.detectors[a] = d;
    }
    return loop;
}

bool sent(const QByteArray& line, std::initializer_list<char> frame) {
    return line.contains(QByteArray(frame.begin(), int(frame.size())));
}

} // namespace

class Tst_Requests : public QObject {
    Q_OBJECT
  private slots:
    void panelRequestsDuringSearchAreDropped();
};

void Tst_Requests::panelRequestsDuringSearchAreDropped() {
    Harness h(three_dlx());
    h.load();
    QVERIFY(h.run_until([&] { return h.t.S.Task_State == Task::Idle_Status; }, 5000));

    // A first search types the detectors; reading one then shows the LED buttons and mode boxes.
    h.t.F.Start_Bus_Cmd.click();
    QVERIFY(h.run_until([&] { return h.t.F.Adr_Status_Cde.Visible(); }, 10000));
    h.t.F.Adr_Box(2).click();
    QVERIFY(h.run_until([&] { return h.t.F.Led_On_Cde.Visible(); }, 5000));
    QVERIFY(h.t.F.Opto_Check.Visible());

    h.t.F.Start_Bus_Cmd.click();
    QVERIFY(h.run_until([&] { return h.t.S.Task_State == Task::Search_Addresses; }, 5000));
    h.board.clear_traffic();
    h.t.F.Led_On_Cde.click();
    h.t.F.Opto_Check.setValue(0);
    h.t.F.Led_Off_Cde.click();

    QVERIFY(h.run_until([&] { return h.t.F.Start_Bus_Cmd.Visible(); }, 10000));
    QCOMPARE(h.t.F.Cur_Adr_Lbl.Caption(), QString::fromUtf8(" 3 Adresses trouvées"));
    QVERIFY(!h.t.S.Grid_Locked);
    QVERIFY(h.t.F.Adr_Status_Cde.Visible());
    const QByteArray line = h.board.received();
    QVERIFY(!sent(line, {0x41, char(0x82)}));
    QVERIFY(!sent(line, {0x41, char(0x96)}));
}

QTEST_GUILESS_MAIN(Tst_Requests)
#include "tst_requests.moc"
