#pragma once
#include "tools/loopsim/loop.h"

#include <QByteArray>
#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>
#include <memory>

class QIODevice;

namespace loopsim {

class Replay;

// The interface board and its loop, at the far end of a pseudo-terminal. It answers the
// single-byte commands and the four-byte frames of the tool, one byte at a time, from the
// event loop of the thread it lives in (so tests can run it in-process).
class Board : public QObject {
    Q_OBJECT
  public:
    explicit Board(Loop loop = default_loop(), QObject* parent = nullptr);
    ~Board() override;

    // Opens a raw pseudo-terminal and publishes it as `dir`/COM<number> (a symbolic link to
    // the terminal), replacing a stale link. stop() closes it and removes the link.
    bool start(const QString& dir, int com_number, QString* error = nullptr);
    // Or on a line in memory: the tool's bytes come through feed(), the board's answers leave
    // through to_tool, and a hang-up drops the line (line_dropped) until come_back (line_back).
    void start_in_memory();
    void feed(quint8 byte);
    void stop();
    bool running() const;
    QString link_path() const;
    QString terminal_path() const;

    Loop& loop();

    // Every byte the tool sent, in order, and every byte the board sent back.
    QByteArray received() const;
    QByteArray sent() const;
    void clear_traffic();

    // Fault modes, each switchable at run time.
    void set_silent(bool on);                  // answers nothing at all
    void set_echo_stop(int k);                 // no echo from byte k (1..3) of a frame on; 0 off
    void set_wrong_echo(int k);                // echo of byte k (1..3) of a frame is wrong; 0 off
    void set_reply_delay(int ms);              // every answer goes out ms later
    void set_garbage(const QByteArray& bytes); // sent unasked after each answer
    void set_extra_bytes(int n);               // n more bytes after each frame reply
    void set_short_replies(bool on);           // frame replies of one byte only
    void hang_up();                            // closes the terminal: the tool sees a hang-up
    bool come_back(QString* error = nullptr);  // a new terminal behind the same link

    // Answers paced like a 9600 baud line (1.0417 ms a byte) instead of at once.
    void set_paced(bool on);
    // A timestamped hex trace of the traffic, one line per byte, or nullptr for none.
    void set_trace(QIODevice* out);

    // Plays the board's side of a trace instead of the loop (see replay.h), until nullptr: the
    // fault modes, pacing and the loop no longer answer, save the loop's answers to a tool's
    // connection before the trace's first request where the trace shows none. The replay is the
    // caller's and must outlive its use here.
    void set_replay(Replay* replay);

    // True between hang_up() and come_back().
    bool hung_up() const;

    // Seeded random faults for soak runs: each exchange (a byte that gets an answer) suffers,
    // with the given probability, one fault picked among `kinds` (all of fault_kinds() when
    // empty). A hang-up comes back by itself after a short while. Probability 0 switches off.
    void set_random_faults(quint32 seed, double probability, const QStringList& kinds = {});
    // For a tool whose clock runs `divider` times faster: the board's idea of the tool's reply
    // time-out, the random delay and the random hang-up's length shrink with it.
    void set_clock_divider(int divider);
    static QStringList fault_kinds(); // silent, wrong, delay, garbage, extra, short, hangup
    QMap<QString, int> faults_injected() const;
    int frames_answered() const; // frames whose last byte got a reply

  signals:
    void byte_received(quint8 byte);
    void to_tool(const QByteArray& bytes);
    void line_dropped();
    void line_back();
    // What the tool did to the loop, for a person watching the simulator.
    void led_switched(int address, bool on);
    void mode_written(int address, quint8 mode);   // held until committed
    void mode_committed(int address, quint8 mode); // the detector now runs in this mode
    void point_changed(int address, quint8 state, quint8 poll_status); // by the script

  private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace loopsim
