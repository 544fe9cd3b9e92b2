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
        rx_ = port_->Input();
        if (trace.is_open()) trace.received(rx_, true);
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
            rx_ = port.Input();
            if (trace.is_open()) trace.received(rx_, true);
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

Line::Reply Line::exchange(uint8_t byte_out, uint8_t reply_len) {
    ++count_.exchanges;
    Reply r;
    // A closed port, or a program that is quitting, answers like a silent board, only at once.
    if (Link_Busy) {
        ++count_.overlaps;
        r.fault = Link_Fault::No_Reply;
    } else if (!quitting() && port_ && port_->PortOpen()) {
        Link_Busy = true;
        count_.max_in_flight = std::max(count_.max_in_flight, ++count_.in_flight);
        r = transfer(byte_out, reply_len);
        --count_.in_flight;
        Link_Busy = false;
    }
    if (r.ok) {
        rx_ = r.bytes;
        ++count_.replies;
    }
    last_ = r;
    return r;
}

// The exchange itself, the line being held: the quiet wait after a time-out, the byte out, and
// the wait for its reply.
Line::Reply Line::transfer(uint8_t byte_out, uint8_t reply_len) {
    Reply r;
    Serial_Port& port = *port_;
    wait_line_quiet();
    if (quitting() || !port.PortOpen()) return r;

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
    if (!written) {
        if (trace.is_open()) trace.exchange_ends("écriture impossible");
        return r;
    }

    Timer_Time_Out.start();
    while (!Reply_Received && !Time_Out_Flag && !quitting())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    Timer_Time_Out.stop();

    // A whole reply counts even when the time-out has fired too: it fires in the event loop of
    // any box left open meanwhile, and it is the board's silence it measures, not the time the
    // box stayed open.
    const int waiting = port.InBufferCount();
    r.ok = !quitting() && waiting > 0 && (waiting >= reply_len || !Time_Out_Flag);
    if (r.ok) r.bytes = port.Input();
    r.heard = r.ok;
    if (trace.is_open()) {
        if (r.ok) trace.received(r.bytes);
        trace.exchange_ends(r.ok               ? "réponse"
                            : quitting()       ? "abandonné (fin du programme)"
                            : !port.PortOpen() ? "port perdu"
                            : waiting > 0      ? "réponse incomplète, délai dépassé"
                                               : "pas de réponse, délai dépassé");
    }
    if (Time_Out_Flag && !r.ok) arm_late_guard();
    // A port that went away meanwhile stays the reason.
    if (r.ok)
        r.fault = Link_Fault::None;
    else if (port.PortOpen())
        r.fault = Link_Fault::No_Reply;
    return r;
}

Line::Reply Line::command(uint8_t cmd, uint8_t expected) {
    Reply r = exchange(cmd, 1);
    if (r.ok && !(r.has(1) && r.at(0) == expected)) {
        r.ok = false;
        r.fault = Link_Fault::Wrong_Echo;
        last_ = r;
    }
    return r;
}

Line::Reply Line::frame(uint8_t p0, uint8_t p1, uint8_t p2, bool flag_a, bool flag_b) {
    const uint8_t header = 0x40 | (flag_a ? 0x01 : 0x00) | (flag_b ? 0x02 : 0x00);
    Reply r = command(header, header);
    const bool heard = r.heard;
    if (r.ok) r = command(p0, p0);
    if (r.ok) r = command(p1, p1);
    if (r.ok) r = exchange(p2, flag_b ? 3 : 2);
    r.heard = heard;
    last_ = r;
    return r;
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
    if (steps_ > 0)
        pending_.push_back(std::move(request));
    else
        request();
}

Line::Step_Scope::~Step_Scope() {
    if (--line_.steps_ > 0) return;
    while (!line_.pending_.empty() && line_.steps_ == 0) {
        auto request = std::move(line_.pending_.front());
        line_.pending_.pop_front();
        if (!line_.quitting()) request();
    }
}
