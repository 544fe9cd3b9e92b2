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
// the line through its signals.
class Line : public QObject {
    Q_OBJECT
  public:
    Line();
    ~Line() override;

    Serial_Port* Comm1() const { return port_.get(); }
    void set_port(std::unique_ptr<Serial_Port> port);

    // Waits end at once, and no exchange starts, once this answers true (the program is quitting).
    void set_quit_check(std::function<bool()> quitting) { quitting_ = std::move(quitting); }

    // Writes one byte and waits up to 2000 ms for reply_len bytes; the reply is then in Rx_Bytes.
    bool Exchange_Byte(uint8_t byte_out, uint8_t reply_len);
    // A single-byte command whose answer must be `expected`.
    bool Send_Command(uint8_t cmd, uint8_t expected);
    // A command frame: header 0x40 (+1 flag A, +2 flag B), P0 and P1 echoed, P2 answered by two
    // bytes (three with flag B), left in Rx_Bytes.
    bool Send_Frame(uint8_t p0, uint8_t p1, uint8_t p2, bool flag_a, bool flag_b);

    // The reply of the last exchange, element 0 first. Callers read it through rx_has and rx, so
    // that a reply shorter than expected reads as a failed exchange.
    QByteArray Rx_Bytes;
    bool rx_has(int count) const { return Rx_Bytes.size() >= count; }
    uint8_t rx(int i) const { return static_cast<uint8_t>(Rx_Bytes.at(i)); }
    // Takes every byte waiting on the port into Rx_Bytes: after an opening, and before a request.
    void drain();
    // Whether the last command frame got any byte back: the board echoes every header, so a
    // frame without one is the board's silence, whatever the detector addressed.
    bool frame_heard() const { return frame_heard_; }

    // Off until a file is opened; then every byte of the line goes there.
    Line_Trace trace;

    bool Reply_Received = false;
    bool Time_Out_Flag = false;
    QTimer Timer_Time_Out; // reply time-out, 2000 ms on the tool's clock

    // The tool's whole clock (reply time-out, quiet wait, and the engine's tick and pauses, which
    // read it through clock_ms) runs this many times faster in soak runs and the engine fuzzer;
    // the tool runs at 1. Durations are rounded up, so a pause never shrinks to nothing.
    void set_clock_divider(int divider);
    int clock_ms(int ms) const;

    // Why the last exchange or command failed, for the operations that tell the user.
    enum class Link_Fault { None, No_Reply, Wrong_Echo, Port_Closed } last_fault = Link_Fault::None;

    // One exchange on the line at a time. Three things keep it so, and they live here together:
    // - an exchange asked for while another waits for its reply is refused (Link_Busy), since it
    //   would take the other's reply and land in the middle of its frame;
    // - a bus step, or the re-arm a click starts, holds the bus for its whole length (Step_Scope,
    //   counted in bus_busy), since a request between two of its frames would undo what it set;
    // - a user request that comes meanwhile waits in pending_requests and runs, in order, as soon
    //   as the outermost scope ends (run_request).
    bool Link_Busy = false;
    int bus_busy = 0;
    std::deque<std::function<void()>> pending_requests;
    void run_request(std::function<void()> request);
    bool bus_free() const { return bus_busy == 0 && !Link_Busy; }
    class Step_Scope {
      public:
        explicit Step_Scope(Line& line) : line_(line) { ++line_.bus_busy; }
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
    } link_count;

  signals:
    void byte_sent();
    void reply_arrived(); // the bytes an exchange waits for are there
    void port_lost();     // the device went away (unplugged, hung up); the port is closed

  private:
    void Comm1_OnComm();
    void Timer_Time_Out_Timer();
    void arm_late_guard();
    void wait_line_quiet();
    bool quitting() const { return quitting_ && quitting_(); }

    std::unique_ptr<Serial_Port> port_;
    std::function<bool()> quitting_;
    bool frame_heard_ = false;
    int divider_ = 1;

    // After a reply time-out the board may still be answering the request that failed: the next
    // request waits until the line has been quiet for a while, and what comes meanwhile is
    // thrown away.
    struct Late_Reply_Guard {
        bool armed = false;
        QDeadlineTimer quiet_until; // moved on by every byte that comes, up to give_up
        QDeadlineTimer give_up;
    } late_;
};
