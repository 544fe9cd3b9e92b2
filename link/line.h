#pragma once
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
    void Set_Port(std::unique_ptr<Serial_Port> port);

    // Waits end at once, and no exchange starts, once this answers true (the program is quitting).
    void Set_Quit_Check(std::function<bool()> quitting) { quitting_ = std::move(quitting); }

    // Writes one byte and waits up to 2000 ms for reply_len bytes; the reply is then in Rx_Bytes.
    bool Exchange_Byte(uint8_t byte_out, uint8_t reply_len);
    // A single-byte command whose answer must be `expected`.
    bool Send_Command(uint8_t cmd, uint8_t expected);
    // A command frame: header 0x40 (+1 flag A, +2 flag B), P0 and P1 echoed, P2 answered by two
    // bytes (three with flag B), left in Rx_Bytes.
    bool Send_Frame(uint8_t p0, uint8_t p1, uint8_t p2, bool flag_a, bool flag_b);

    // The reply of the last exchange, element 0 first. Callers read it through Rx_Has and Rx, so
    // that a reply shorter than expected reads as a failed exchange.
    QByteArray Rx_Bytes;
    bool Rx_Has(int count) const { return Rx_Bytes.size() >= count; }
    uint8_t Rx(int i) const { return static_cast<uint8_t>(Rx_Bytes.at(i)); }
    // Drains every byte waiting on the port into Rx_Bytes (after an opening).
    void Drain();

    bool Reply_Received = false;
    bool Time_Out_Flag = false;
    QTimer Timer_Time_Out; // reply time-out, 2000 ms on the tool's clock

    // The reply time-out and the quiet wait after it run this many times faster (soak runs and
    // the engine fuzzer); the tool runs at 1.
    void Set_Clock_Divider(int divider);
    int Clock_Ms(int ms) const;

    // Why the last exchange or command failed, for the operations that tell the user.
    enum class Link_Fault { None, No_Reply, Wrong_Echo, Port_Closed } Last_Fault = Link_Fault::None;

    // One exchange on the line at a time. Three things keep it so, and they live here together:
    // - an exchange asked for while another waits for its reply is refused (Link_Busy), since it
    //   would take the other's reply and land in the middle of its frame;
    // - a bus step, or the re-arm a click starts, holds the bus for its whole length (Step_Scope,
    //   counted in Bus_Busy), since a request between two of its frames would undo what it set;
    // - a user request that comes meanwhile waits in Pending_Requests and runs, in order, as soon
    //   as the outermost scope ends (Run_Request).
    bool Link_Busy = false;
    int Bus_Busy = 0;
    std::deque<std::function<void()>> Pending_Requests;
    void Run_Request(std::function<void()> request);
    bool Bus_Free() const { return Bus_Busy == 0 && !Link_Busy; }
    class Step_Scope {
      public:
        explicit Step_Scope(Line& line) : line_(line) { ++line_.Bus_Busy; }
        ~Step_Scope();
        Step_Scope(const Step_Scope&) = delete;
        Step_Scope& operator=(const Step_Scope&) = delete;

      private:
        Line& line_;
    };

    // Kept by the exchange itself, so a run can prove that two exchanges never overlapped.
    struct Link_Counters {
        quint64 Exchanges = 0; // asked for, overlapping ones included
        int In_Flight = 0;
        int Max_In_Flight = 0;
        quint64 Overlaps = 0; // asked for while another was waiting for its reply
        quint64 Replies = 0;  // exchanges that got bytes back in time
    } Link_Count;

  signals:
    void Byte_Sent();
    void Reply_Arrived(); // the bytes an exchange waits for are there
    void Port_Lost();     // the device went away (unplugged, hung up); the port is closed

  private:
    void Comm1_OnComm();
    void Timer_Time_Out_Timer();
    void Arm_Late_Guard();
    void Wait_Line_Quiet();
    bool Quitting() const { return quitting_ && quitting_(); }

    std::unique_ptr<Serial_Port> port_;
    std::function<bool()> quitting_;
    int divider_ = 1;

    // After a reply time-out the board may still be answering the request that failed: the next
    // request waits until the line has been quiet for a while, and what comes meanwhile is
    // thrown away.
    struct Late_Reply_Guard {
        bool Armed = false;
        QDeadlineTimer Quiet_Until; // moved on by every byte that comes, up to Give_Up
        QDeadlineTimer Give_Up;
    } late_;
};
