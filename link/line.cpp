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

void Line::set_port(std::unique_ptr<Serial_Port> port) {
    port_ = std::move(port);
    if (port_) connect(port_.get(), &Serial_Port::comm_event, this, &Line::Comm1_OnComm);
}

void Line::set_clock_divider(int divider) {
    divider_ = std::max(divider, 1);
    Timer_Time_Out.setInterval(clock_ms(Reply_Time_Out_Ms));
}

int Line::clock_ms(int ms) const {
    // Rounded up, so that a pause never shrinks to nothing.
    return ms <= 0 ? ms : (ms + divider_ - 1) / divider_;
}

void Line::drain() {
    while (port_ && port_->InBufferCount() > 0) {
        Rx_Bytes = port_->Input();
        if (trace.is_open()) trace.received(Rx_Bytes, true);
    }
}

void Line::arm_late_guard() {
    late_.armed = true;
    late_.give_up = QDeadlineTimer(clock_ms(Late_Limit_Ms), Qt::PreciseTimer);
    late_.quiet_until = QDeadlineTimer(clock_ms(Late_Quiet_Ms), Qt::PreciseTimer);
}

// The request that timed out may still be answered: its bytes must not become the reply to the
// next one. Waits, handling events, until the line has been quiet long enough, and drains what
// comes meanwhile.
void Line::wait_line_quiet() {
    if (!late_.armed) return;
    late_.armed = false;
    Serial_Port& port = *port_;
    port.set_rthreshold(1);
    QTimer wake;
    wake.setSingleShot(true);
    wake.setTimerType(Qt::PreciseTimer);
    bool woke = false;
    QObject::connect(&wake, &QTimer::timeout, &wake, [&woke] { woke = true; });
    for (;;) {
        if (port.InBufferCount() > 0) {
            Rx_Bytes = port.Input();
            if (trace.is_open()) trace.received(Rx_Bytes, true);
            late_.quiet_until =
                std::min(QDeadlineTimer(clock_ms(Late_Quiet_Ms), Qt::PreciseTimer), late_.give_up);
        }
        const qint64 left = late_.quiet_until.remainingTime();
        if (left <= 0 || quitting() || !port.PortOpen()) break;
        woke = false;
        Reply_Received = false;
        wake.start(int(left));
        while (!woke && !Reply_Received && !quitting())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    Reply_Received = false;
}

bool Line::Exchange_Byte(uint8_t byte_out, uint8_t reply_len) {
    Link_Counters& count = link_count;
    ++count.exchanges;
    if (Link_Busy) {
        ++count.overlaps;
        last_fault = Link_Fault::No_Reply;
        return false;
    }
    // A closed port, or a program that is quitting, answers like a silent board, only at once.
    last_fault = Link_Fault::Port_Closed;
    if (quitting() || !port_ || !port_->PortOpen()) return false;
    Serial_Port& port = *port_;

    Link_Busy = true;
    count.max_in_flight = std::max(count.max_in_flight, ++count.in_flight);

    wait_line_quiet();
    if (quitting() || !port.PortOpen()) {
        --count.in_flight;
        Link_Busy = false;
        return false;
    }

    drain();
    port.set_rthreshold(reply_len);

    emit byte_sent();
    const bool written = port.Output(byte_out);
    if (trace.is_open()) {
        trace.exchange_begins();
        trace.sent(byte_out, written);
    }

    Time_Out_Flag = false;
    Reply_Received = false;

    bool ok = false;
    if (written) {
        Timer_Time_Out.start();
        while (!Reply_Received && !Time_Out_Flag && !quitting())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        Timer_Time_Out.stop();

        // A whole reply counts even when the time-out has fired too: it fires in the event loop
        // of any box left open meanwhile, and it is the board's silence it measures, not the
        // time the box stayed open.
        const int waiting = port.InBufferCount();
        ok = !quitting() && waiting > 0 && (waiting >= reply_len || !Time_Out_Flag);
        if (ok) Rx_Bytes = port.Input();
        if (trace.is_open()) {
            if (ok) trace.received(Rx_Bytes);
            trace.exchange_ends(ok                 ? "réponse"
                                : quitting()       ? "abandonné (fin du programme)"
                                : !port.PortOpen() ? "port perdu"
                                : waiting > 0      ? "réponse incomplète, délai dépassé"
                                                   : "pas de réponse, délai dépassé");
        }
        if (Time_Out_Flag && !ok) arm_late_guard();
        // A port that went away meanwhile stays the reason.
        if (ok) {
            last_fault = Link_Fault::None;
            ++count.replies;
        } else if (port.PortOpen()) {
            last_fault = Link_Fault::No_Reply;
        }
    } else if (trace.is_open()) {
        trace.exchange_ends("écriture impossible");
    }

    --count.in_flight;
    Link_Busy = false;
    return ok;
}

bool Line::Send_Command(uint8_t cmd, uint8_t expected) {
    if (!Exchange_Byte(cmd, 1)) return false;
    if (rx_has(1) && rx(0) == expected) return true;
    last_fault = Link_Fault::Wrong_Echo;
    return false;
}

bool Line::Send_Frame(uint8_t p0, uint8_t p1, uint8_t p2, bool flag_a, bool flag_b) {
    const uint8_t header = 0x40 | (flag_a ? 0x01 : 0x00) | (flag_b ? 0x02 : 0x00);
    const quint64 replies = link_count.replies;
    const bool echoed = Send_Command(header, header);
    frame_heard_ = link_count.replies != replies;
    if (!echoed) return false;
    if (!Send_Command(p0, p0)) return false;
    if (!Send_Command(p1, p1)) return false;
    return Exchange_Byte(p2, flag_b ? 3 : 2);
}

void Line::Comm1_OnComm() {
    // Also ends the wait of an exchange whose port has just gone away.
    Reply_Received = true;
    if (port_ && port_->PortOpen())
        emit reply_arrived();
    else
        emit port_lost();
}

void Line::Timer_Time_Out_Timer() {
    Time_Out_Flag = true;
}

void Line::run_request(std::function<void()> request) {
    if (quitting()) return;
    if (bus_busy > 0)
        pending_requests.push_back(std::move(request));
    else
        request();
}

Line::Step_Scope::~Step_Scope() {
    if (--line_.bus_busy > 0) return;
    while (!line_.pending_requests.empty() && line_.bus_busy == 0) {
        auto request = std::move(line_.pending_requests.front());
        line_.pending_requests.pop_front();
        if (!line_.quitting()) request();
    }
}
