#pragma once
#include <QByteArray>
#include <QObject>
#include <QString>

// The one serial port of the tool, behind the few operations the link uses. The Qt
// implementation talks to a real device (or a pseudo-terminal); tests and fuzzers plug their own.
//
// comm_event is the port's only notification: raised when at least RThreshold bytes are waiting
// (RThreshold 0 means never for data), and once when the port fails (unplug, hang-up), after
// which the port is closed.
class Serial_Port : public QObject {
    Q_OBJECT
  public:
    ~Serial_Port() override = default;

    // Opens COM `number` at 9600 baud, 8 data bits, no parity, 1 stop bit, raw bytes.
    // On failure returns false and leaves the port closed.
    virtual bool open(int number) = 0;
    virtual void close() = 0;
    virtual bool PortOpen() const = 0;
    virtual int InBufferCount() = 0;
    virtual QByteArray Input() = 0;        // every byte waiting
    virtual bool Output(uint8_t byte) = 0; // one byte; false when it cannot be written
    virtual QString device_name(int number) const = 0;
    // Opens this device whatever the number, until set back to empty.
    virtual void set_device(const QString& /*path*/) {}

    // Why the last opening failed, for the message that tells the user what to do.
    enum class Open_Failure { None, No_Device, Permission, Busy, Other };
    virtual Open_Failure open_failure() const { return Open_Failure::Other; }

    void set_rthreshold(int n) {
        threshold_ = n;
        check_threshold();
    }
    int RThreshold() const { return threshold_; }

  signals:
    void comm_event();

  protected:
    // Implementations call this whenever bytes have arrived.
    void check_threshold() {
        if (threshold_ > 0 && PortOpen() && received() >= threshold_) emit comm_event();
    }
    // The bytes known to be waiting, without asking the device again: an implementation that
    // has just taken in what arrived answers from what it holds.
    virtual int received() { return InBufferCount(); }

  private:
    int threshold_ = 0;
};
