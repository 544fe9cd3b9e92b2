#include "link/exchange.h"

#include "app/tool.h"
#include "link/tempo.h"

#include <QCoreApplication>
#include <QTimer>
#include <algorithm>

namespace {

// Switches a lamp timer on. A timer already running keeps its count, so the lamp goes dark at
// the end of the current 75 ms period. The timers stop once their lamp is dark: an idle tool
// has no reason to wake up every 75 ms.
void enable(QTimer& timer) {
    if (!timer.isActive()) timer.start();
}

// Bytes up to this long after a time-out (or after the last of them) are taken for a late reply
// and thrown away; a line that keeps chattering holds the next request Late_Limit_Ms at most.
constexpr int Late_Quiet_Ms = 1000;
constexpr int Late_Limit_Ms = 3000;

void Arm_Late_Guard(Tool& t) {
    Tool::Late_Reply_Guard& g = t.Late_Guard;
    g.Armed = true;
    g.Give_Up = QDeadlineTimer(Clock_Ms(t, Late_Limit_Ms), Qt::PreciseTimer);
    g.Quiet_Until = QDeadlineTimer(Clock_Ms(t, Late_Quiet_Ms), Qt::PreciseTimer);
}

// The request that timed out may still be answered: its bytes must not become the reply to the
// next one. Waits, handling events, until the line has been quiet long enough, and drains what
// comes meanwhile.
void Wait_Line_Quiet(Tool& t, Serial_Port& port) {
    Tool::Late_Reply_Guard& g = t.Late_Guard;
    if (!g.Armed) return;
    g.Armed = false;
    Program_State& S = t.S;
    port.setRThreshold(1);
    QTimer wake;
    wake.setSingleShot(true);
    wake.setTimerType(Qt::PreciseTimer);
    bool woke = false;
    QObject::connect(&wake, &QTimer::timeout, &wake, [&woke] { woke = true; });
    for (;;) {
        if (port.InBufferCount() > 0) {
            S.Rx_Bytes = port.Input();
            g.Quiet_Until =
                std::min(QDeadlineTimer(Clock_Ms(t, Late_Quiet_Ms), Qt::PreciseTimer), g.Give_Up);
        }
        const qint64 left = g.Quiet_Until.remainingTime();
        if (left <= 0 || S.Quit_Flag || !port.PortOpen()) break;
        woke = false;
        S.Reply_Received = false;
        wake.start(int(left));
        while (!woke && !S.Reply_Received && !S.Quit_Flag)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    S.Reply_Received = false;
}

} // namespace

bool Exchange_Byte(Tool& t, uint8_t byte_out, uint8_t reply_len) {
    Program_State& S = t.S;
    Bus_Form& F = t.F;
    Serial_Port* port = t.Comm1.get();

    Tool::Link_Counters& count = t.Link_Count;
    ++count.Exchanges;
    // Another exchange is waiting for its reply: draining now would take that reply, and this
    // byte would land in the middle of its frame.
    if (S.Link_Busy) {
        ++count.Overlaps;
        t.Last_Fault = Tool::Link_Fault::No_Reply;
        return false;
    }
    // A closed port, or a program that is quitting, answers like a silent board, only at once.
    t.Last_Fault = Tool::Link_Fault::Port_Closed;
    if (S.Quit_Flag || !port || !port->PortOpen()) return false;

    S.Link_Busy = true;
    count.Max_In_Flight = std::max(count.Max_In_Flight, ++count.In_Flight);

    Wait_Line_Quiet(t, *port);
    if (S.Quit_Flag || !port->PortOpen()) {
        --count.In_Flight;
        S.Link_Busy = false;
        return false;
    }

    while (port->InBufferCount() >= 1)
        S.Rx_Bytes = port->Input();

    port->setRThreshold(reply_len);

    F.Send_Shp.setVisible(true);
    enable(F.Send_Timer);

    const bool written = port->Output(byte_out);

    S.Time_Out_Flag = false;
    S.Reply_Received = false;

    bool ok = false;
    if (written) {
        F.Timer_Time_Out.start();
        while (!S.Reply_Received && !S.Time_Out_Flag && !S.Quit_Flag)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        F.Timer_Time_Out.stop();

        // A whole reply counts even when the time-out has fired too: it fires in the event loop
        // of any box left open meanwhile, and it is the board's silence it measures, not the
        // time the box stayed open.
        const int waiting = port->InBufferCount();
        ok = !S.Quit_Flag && waiting > 0 && (waiting >= reply_len || !S.Time_Out_Flag);
        if (ok) S.Rx_Bytes = port->Input();
        if (S.Time_Out_Flag && !ok) Arm_Late_Guard(t);
        // A port that went away meanwhile stays the reason.
        if (ok) {
            t.Last_Fault = Tool::Link_Fault::None;
            ++count.Replies;
        } else if (port->PortOpen()) {
            t.Last_Fault = Tool::Link_Fault::No_Reply;
        }
    }

    --count.In_Flight;
    S.Link_Busy = false;
    return ok;
}

void Comm1_OnComm(Tool& t) {
    t.S.Reply_Received = true;
    // A reply that comes in after the window unloaded lights no lamp: its timer would outlive
    // the window.
    if (t.F.Unloaded()) return;
    t.F.Receive_Shp.setVisible(true);
    enable(t.F.Receive_Timer);
}

void Timer_Time_Out_Timer(Tool& t) {
    t.S.Time_Out_Flag = true;
}

void Send_Timer_Timer(Tool& t) {
    t.F.Send_Shp.setVisible(false);
    t.F.Send_Timer.stop();
}

void Receive_Timer_Timer(Tool& t) {
    t.F.Receive_Shp.setVisible(false);
    t.F.Receive_Timer.stop();
}
