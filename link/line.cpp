#include "link/line.h"

#include <QCoreApplication>
#include <algorithm>

namespace {

// Bytes up to this long after a time-out (or after the last of them) are taken for a late reply
// and thrown away; a line that keeps chattering holds the next request Late_Limit_Ms at most.
constexpr int Late_Quiet_Ms = 1000;
constexpr int Late_Limit_Ms = 3000;
constexpr int Reply_Time_Out_Ms = 2000;

} // namespace

Line::Line() {
    Timer_Time_Out.setInterval(Reply_Time_Out_Ms);
    // A coarse timer may fire up to 5 % early, cutting the board's 2000 ms short.
    Timer_Time_Out.setTimerType(Qt::PreciseTimer);
    connect(&Timer_Time_Out, &QTimer::timeout, this, &Line::Timer_Time_Out_Timer);
}

Line::~Line() = default;

void Line::Set_Port(std::unique_ptr<Serial_Port> port) {
    port_ = std::move(port);
    if (port_) connect(port_.get(), &Serial_Port::Comm_Event, this, &Line::Comm1_OnComm);
}

void Line::Set_Clock_Divider(int divider) {
    divider_ = std::max(divider, 1);
    Timer_Time_Out.setInterval(Clock_Ms(Reply_Time_Out_Ms));
}

int Line::Clock_Ms(int ms) const {
    // Rounded up, so that a pause never shrinks to nothing.
    return ms <= 0 ? ms : (ms + divider_ - 1) / divider_;
}

void Line::Drain() {
    while (port_ && port_->InBufferCount() > 0)
        Rx_Bytes = port_->Input();
}

void Line::Arm_Late_Guard() {
    late_.Armed = true;
    late_.Give_Up = QDeadlineTimer(Clock_Ms(Late_Limit_Ms), Qt::PreciseTimer);
    late_.Quiet_Until = QDeadlineTimer(Clock_Ms(Late_Quiet_Ms), Qt::PreciseTimer);
}

// The request that timed out may still be answered: its bytes must not become the reply to the
// next one. Waits, handling events, until the line has been quiet long enough, and drains what
// comes meanwhile.
void Line::Wait_Line_Quiet() {
    if (!late_.Armed) return;
    late_.Armed = false;
    Serial_Port& port = *port_;
    port.setRThreshold(1);
    QTimer wake;
    wake.setSingleShot(true);
    wake.setTimerType(Qt::PreciseTimer);
    bool woke = false;
    QObject::connect(&wake, &QTimer::timeout, &wake, [&woke] { woke = true; });
    for (;;) {
        if (port.InBufferCount() > 0) {
            Rx_Bytes = port.Input();
            late_.Quiet_Until =
                std::min(QDeadlineTimer(Clock_Ms(Late_Quiet_Ms), Qt::PreciseTimer), late_.Give_Up);
        }
        const qint64 left = late_.Quiet_Until.remainingTime();
        if (left <= 0 || Quitting() || !port.PortOpen()) break;
        woke = false;
        Reply_Received = false;
        wake.start(int(left));
        while (!woke && !Reply_Received && !Quitting())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    Reply_Received = false;
}

bool Line::Exchange_Byte(uint8_t byte_out, uint8_t reply_len) {
    Link_Counters& count = Link_Count;
    ++count.Exchanges;
    if (Link_Busy) {
        ++count.Overlaps;
        Last_Fault = Link_Fault::No_Reply;
        return false;
    }
    // A closed port, or a program that is quitting, answers like a silent board, only at once.
    Last_Fault = Link_Fault::Port_Closed;
    if (Quitting() || !port_ || !port_->PortOpen()) return false;
    Serial_Port& port = *port_;

    Link_Busy = true;
    count.Max_In_Flight = std::max(count.Max_In_Flight, ++count.In_Flight);

    Wait_Line_Quiet();
    if (Quitting() || !port.PortOpen()) {
        --count.In_Flight;
        Link_Busy = false;
        return false;
    }

    Drain();
    port.setRThreshold(reply_len);

    emit Byte_Sent();
    const bool written = port.Output(byte_out);

    Time_Out_Flag = false;
    Reply_Received = false;

    bool ok = false;
    if (written) {
        Timer_Time_Out.start();
        while (!Reply_Received && !Time_Out_Flag && !Quitting())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        Timer_Time_Out.stop();

        // A whole reply counts even when the time-out has fired too: it fires in the event loop
        // of any box left open meanwhile, and it is the board's silence it measures, not the
        // time the box stayed open.
        const int waiting = port.InBufferCount();
        ok = !Quitting() && waiting > 0 && (waiting >= reply_len || !Time_Out_Flag);
        if (ok) Rx_Bytes = port.Input();
        if (Time_Out_Flag && !ok) Arm_Late_Guard();
        // A port that went away meanwhile stays the reason.
        if (ok) {
            Last_Fault = Link_Fault::None;
            ++count.Replies;
        } else if (port.PortOpen()) {
            Last_Fault = Link_Fault::No_Reply;
        }
    }

    --count.In_Flight;
    Link_Busy = false;
    return ok;
}

bool Line::Send_Command(uint8_t cmd, uint8_t expected) {
    if (!Exchange_Byte(cmd, 1)) return false;
    if (Rx_Has(1) && Rx(0) == expected) return true;
    Last_Fault = Link_Fault::Wrong_Echo;
    return false;
}

bool Line::Send_Frame(uint8_t p0, uint8_t p1, uint8_t p2, bool flag_a, bool flag_b) {
    const uint8_t header = 0x40 | (flag_a ? 0x01 : 0x00) | (flag_b ? 0x02 : 0x00);
    if (!Send_Command(header, header)) return false;
    if (!Send_Command(p0, p0)) return false;
    if (!Send_Command(p1, p1)) return false;
    return Exchange_Byte(p2, flag_b ? 3 : 2);
}

void Line::Comm1_OnComm() {
    // Also ends the wait of an exchange whose port has just gone away.
    Reply_Received = true;
    if (port_ && port_->PortOpen())
        emit Reply_Arrived();
    else
        emit Port_Lost();
}

void Line::Timer_Time_Out_Timer() {
    Time_Out_Flag = true;
}

void Line::Run_Request(std::function<void()> request) {
    if (Quitting()) return;
    if (Bus_Busy > 0)
        Pending_Requests.push_back(std::move(request));
    else
        request();
}

Line::Step_Scope::~Step_Scope() {
    if (--line_.Bus_Busy > 0) return;
    while (!line_.Pending_Requests.empty() && line_.Bus_Busy == 0) {
        auto request = std::move(line_.Pending_Requests.front());
        line_.Pending_Requests.pop_front();
        if (!line_.Quitting()) request();
    }
}
