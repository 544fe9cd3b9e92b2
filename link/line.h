#pragma once
#include "link/line_trace.h"
#include "link/serial_port.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QObject>
#include <QTimer>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>

// The serial line to the interface board: the port, the exchange of one byte against its reply,
// and the command frames built on it. It knows nothing of the window; it tells what happens on
// the line through its signals. Its rule of one exchange at a time is kept inside: nothing
// outside can set its guards.
class Line : public QObject {
    Q_OBJECT
  public:
    Line();
    ~Line() override;

    Serial_Port* Comm1() const { return port_.get(); }
    void set_port(std::unique_ptr<Serial_Port> port);

    // Waits end at once, and no exchange starts, once this answers true (the program is quitting).
    void set_quit_check(std::function<bool()> quitting) { quitting_ = std::move(quitting); }

    // Why an exchange or a frame failed.
    enum class Link_Fault { None, No_Reply, Wrong_Echo, Port_Closed };

    // What an exchange, a command or a frame gives back: its reply and its fault together.
    struct Reply {
        bool ok = false;
        QByteArray bytes;                           // the reply, when some came
        Link_Fault fault = Link_Fault::Port_Closed; // None when ok
        // Some byte came back: the board answered, even if not as it should. For a frame, its
        // header was echoed, which the board does whatever the detector addressed.
        bool heard = false;
        bool has(int count) const { return bytes.size() >= count; }
        uint8_t at(int i) const { return static_cast<uint8_t>(bytes.at(i)); }
        // A frame the detector took: answered, with status 0.
        bool accepted() const { return ok && has(1) && at(0) == 0; }
    };

    // Writes one byte and waits up to 2000 ms for reply_len bytes.
    Reply exchange(uint8_t byte_out, uint8_t reply_len);
    // A single-byte command whose answer must be `expected`.
    Reply command(uint8_t cmd, uint8_t expected);
    // A command frame: header 0x40 (+1 flag A, +2 flag B), P0 and P1 echoed, P2 answered by two
    // bytes (three with flag B).
    Reply frame(uint8_t p0, uint8_t p1, uint8_t p2, bool flag_a, bool flag_b);

    // The same under the design's names, which answer whether it went well and leave the reply
    // in Rx_Bytes and the rest in last_reply.
    bool Exchange_Byte(uint8_t byte_out, uint8_t reply_len) {
        return exchange(byte_out, reply_len).ok;
    }
    bool Send_Command(uint8_t cmd, uint8_t expected) { return command(cmd, expected).ok; }
    bool Send_Frame(uint8_t p0, uint8_t p1, uint8_t p2, bool flag_a, bool flag_b) {
        return frame(p0, p1, p2, flag_a, flag_b).ok;
    }

    // The bytes of the last reply, element 0 first; after a failed exchange, what was there
    // before (or bytes thrown away since). Callers read it through rx_has and rx, so that a reply
    // shorter than expected reads as a failed exchange.
    const QByteArray& Rx_Bytes() const { return rx_; }
    bool rx_has(int count) const { return rx_.size() >= count; }
    uint8_t rx(int i) const { return static_cast<uint8_t>(rx_.at(i)); }
    // The last exchange, command or frame, as it gave it back.
    const Reply& last_reply() const { return last_; }
    Link_Fault last_fault() const { return last_.fault; }
    // Takes every byte waiting on the port into Rx_Bytes: after an opening, and before a request.
    void drain();

    // Off until a file is opened; then every byte of the line goes there.
    Line_Trace trace;

    // The tool's whole clock (reply time-out, quiet wait, and the engine's tick and pauses, which
    // read it through clock_ms) runs this many times faster in soak runs and the engine fuzzer;
    // the tool runs at 1. Durations are rounded up, so a pause never shrinks to nothing.
    void set_clock_divider(int divider);
    int clock_ms(int ms) const;
    const QTimer& reply_timer() const { return Timer_Time_Out; }

    // One exchange on the line at a time. Three things keep it so:
    // - an exchange asked for while another waits for its reply is refused, since it would take
    //   the other's reply and land in the middle of its frame;
    // - a bus step, or the re-arm a click starts, holds the bus for its whole length
    //   (Step_Scope), since a request between two of its frames would undo what it set;
    // - a user request that comes meanwhile waits, and runs, in order, as soon as the outermost
    //   scope ends (run_request).
    void run_request(std::function<void()> request);
    bool bus_free() const { return steps_ == 0 && !Link_Busy; }
    bool exchanging() const { return Link_Busy; }
    int steps_holding() const { return steps_; }
    size_t requests_waiting() const { return pending_.size(); }
    class Step_Scope {
      public:
        explicit Step_Scope(Line& line) : line_(line) { ++line_.steps_; }
        ~Step_Scope();
        Step_Scope(const Step_Scope&) = delete;
        Step_Scope& operator=(const Step_Scope&) = delete;

      private:
        Line& line_;
    };

    // Kept by the exchange itself, so a run can prove that two exchanges never overlapped.
    struct Link_Counters {
        quint64 exchanges = 0; // asked for, overlapping ones included
        int in_flight = 0;
        int max_in_flight = 0;
        quint64 overlaps = 0; // asked for while another was waiting for its reply
        quint64 replies = 0;  // exchanges that got bytes back in time
    };
    const Link_Counters& link_count() const { return count_; }

  signals:
    void byte_sent();
    void reply_arrived(); // the bytes an exchange waits for are there
    void port_lost();     // the device went away (unplugged, hung up); the port is closed

  private:
    Reply transfer(uint8_t byte_out, uint8_t reply_len);
    void Comm1_OnComm();
    void Timer_Time_Out_Timer();
    void arm_late_guard();
    void wait_line_quiet();
    bool quitting() const { return quitting_ && quitting_(); }

    std::unique_ptr<Serial_Port> port_;
    std::function<bool()> quitting_;
    int divider_ = 1;
    QByteArray rx_;
    Reply last_;

    bool Reply_Received = false;
    bool Time_Out_Flag = false;
    QTimer Timer_Time_Out; // reply time-out, 2000 ms on the tool's clock
    bool Link_Busy = false;
    int steps_ = 0;
    std::deque<std::function<void()>> pending_;
    Link_Counters count_;

    // After a reply time-out the board may still be answering the request that failed: the next
    // request waits until the line has been quiet for a while, and what comes meanwhile is
    // thrown away.
    struct Late_Reply_Guard {
        bool armed = false;
        QDeadlineTimer quiet_until; // moved on by every byte that comes, up to give_up
        QDeadlineTimer give_up;
    } late_;
};
