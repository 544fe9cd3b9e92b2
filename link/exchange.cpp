#include "link/exchange.h"

#include "app/tool.h"

#include <QCoreApplication>
#include <algorithm>

namespace {

// Switches a lamp timer on. A timer already running keeps its count, so the lamp goes dark at
// the end of the current 75 ms period. The timers stop once their lamp is dark: an idle tool
// has no reason to wake up every 75 ms.
void enable(QTimer& timer) {
    if (!timer.isActive()) timer.start();
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
        return false;
    }
    // A closed port, or a program that is quitting, answers like a silent board, only at once.
    if (S.Quit_Flag || !port || !port->PortOpen()) return false;

    S.Link_Busy = true;
    count.Max_In_Flight = std::max(count.Max_In_Flight, ++count.In_Flight);

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

        ok = !S.Time_Out_Flag && !S.Quit_Flag && port->InBufferCount() > 0;
        if (ok) S.Rx_Bytes = port->Input();
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
