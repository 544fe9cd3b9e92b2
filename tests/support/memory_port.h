#pragma once
#include "link/serial_port.h"

#include <functional>
#include <optional>

// A serial port that lives in memory: every byte the tool writes goes to an answer callback,
// and what the callback returns arrives later through the event loop, as from a real line.
// It can also hang up (the port closes and raises comm_event once) and refuse to open.
class Memory_Port final : public Serial_Port {
  public:
    // The bytes to deliver for the byte written, or nothing for a silent board. The port's
    // RThreshold at that moment is the reply length the tool waits for.
    using Answer = std::function<std::optional<QByteArray>(uint8_t written)>;

    void set_answer(Answer answer) { answer_ = std::move(answer); }
    void set_open_fails(bool fails) { open_fails_ = fails; }
    // Only COM `number` opens, as only one device is there (0: any).
    void set_number(int number) { number_ = number; }

    // Bytes that arrive unasked, on the next pass of the event loop (dropped if the port has
    // been closed or reopened by then).
    void deliver(const QByteArray& bytes);
    // The same after ms milliseconds: a reply that comes too late.
    void deliver_later(const QByteArray& bytes, int ms);
    // The line goes away on the next pass of the event loop, as an unplugged adapter does.
    void hang_up();

    const QByteArray& written() const { return written_; }

    bool open(int number) override;
    void close() override;
    bool PortOpen() const override { return open_; }
    int InBufferCount() override { return open_ ? static_cast<int>(in_.size()) : 0; }
    QByteArray Input() override;
    bool Output(uint8_t byte) override;
    QString device_name(int number) const override;

  private:
    void arrive(const QByteArray& bytes, quint64 session);

    Answer answer_;
    QByteArray in_;
    QByteArray written_;
    bool open_ = false;
    bool open_fails_ = false;
    int number_ = 0;
    // Changes with every opening and closing, so bytes meant for an earlier session are lost
    // with it, as on a real line.
    quint64 session_ = 0;
};
