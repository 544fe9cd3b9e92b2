#pragma once
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>
#include <array>
#include <cstdint>
#include <functional>
#include <map>

// What the tool has learned of the loop, address by address, and when. The search, the readouts,
// the LED commands and the control-panel simulation fill it as they run: it never sends a byte of
// its own. The reports, the comparison with the planned loop and the journal read it.
namespace record {

enum class Readout { None, Complete, Partial, Failed };
enum class Point { Unknown, Standby, Alarm, Point_Fault, Com_Fault };

// How often something happened at one address, and when first and last.
struct Tally {
    int count = 0;
    QDateTime first, last;
    void add(const QDateTime& when);
};

struct Detector {
    bool found = false;
    QDateTime found_at;
    int type_code = -1; // -1 until read
    QString type_name;
    int pcb_version = -1; // the byte read, shown as its two nibbles "h.l"
    int soft_version = -1;
    QString serial;                    // as the panel shows it; empty unless read whole
    std::map<uint8_t, uint8_t> params; // by parameter code; the mode byte under Mode_Code
    Readout readout = Readout::None;
    QDateTime readout_at;
    Point point = Point::Unknown;
    Tally alarms, point_faults, com_faults;
    bool tested = false; // in alarm at least once since the last simulation started
    bool led_on = false;
    QDateTime led_on_at;
    bool led_seen = false;
    // Found in a session taken up again, and not confirmed by a search since.
    bool earlier = false;

    int mode() const;
};

struct Event {
    QDateTime at;
    int address = 0; // 0: the whole loop
    QString text;
};

// A time when the interface board sent no byte at all: its silence, not its detectors' faults.
struct Silence {
    QDateTime from, to; // `to` is invalid while it lasts
    bool port_lost = false;
    double seconds() const;
};

// A sensing element switched on or off from the panel.
struct Mode_Write {
    QDateTime at;
    int address = 0;
    int before = -1; // the mode byte read before, -1 when unknown
    int after = -1;  // the mode byte the detector runs in if it took the write
    uint8_t written = 0;
    bool accepted = false;
};

// Readouts by result; `unread`, those that read nothing (never read since the search, or a type
// with nothing to read).
struct Readout_Counts {
    int complete = 0, partial = 0, failed = 0, unread = 0;
    void add(Readout r);
};

constexpr uint8_t Mode_Code = 16;
// The journal keeps the newest events up to this many; a simulation left running for days
// would otherwise grow it without end.
constexpr int Max_Events = 50000;
// So many silences and mode writes at most are kept, the newest.
constexpr int Max_Silences = 1000;
constexpr int Max_Mode_Writes = 1000;

QString version_text(int byte);
// The sensing elements a mode byte leaves on, as the panel words them; empty when not read.
QString mode_text(int byte);
QString point_text(Point p);
QString readout_text(Readout r);
// A type code as the tool writes it, "0x1A"; empty when not read.
QString code_text(int code);
// "1 complète, 2 partielles..." as the status line, the journal and the reports count them.
QString count_text(int n, const char* singular);
// Seconds in French, "6,2 s".
QString seconds_text(double seconds);

} // namespace record

class Loop_Record : public QObject {
    Q_OBJECT
  public:
    static constexpr int First = 1;
    static constexpr int Last = 128;

    Loop_Record();

    // An address outside 1..128 reads as an empty detector.
    const record::Detector& at(int address) const;
    QList<int> found() const;
    const QList<record::Event>& events() const { return events_; }
    // A control-panel simulation has run since the tool started: the walk test means something.
    bool simulated() const { return simulated_; }
    // The last search that ended looked at addresses 1 to searched_to(); 0 while none has (since
    // the start, or since a new one began): no address can be called missing then.
    int searched_to() const { return searched_to_; }
    // Searches begun since the start.
    int searches() const { return searches_; }
    // Where and why the last search that ended was cut short (or could not begin); empty when it
    // went to its end.
    const QString& search_stop() const { return search_stop_; }
    record::Readout_Counts readout_counts() const;
    const QList<record::Silence>& silences() const { return silences_; }
    bool board_silent() const { return !silences_.isEmpty() && !silences_.last().to.isValid(); }
    const QList<record::Mode_Write>& mode_writes() const { return mode_writes_; }

    // The search: a new one forgets the detectors found by the previous one, their types and
    // their readouts, and says so in the journal.
    void search_started();
    void set_found(int address);
    void set_type(int address, uint8_t code, const QString& name);
    // `stop` says where and why it was cut short, empty when it went to its end.
    void search_ended(int searched_to, int found, const QString& stop);

    // A readout of one detector.
    void readout_started(int address);
    void set_version(int address, bool soft, uint8_t byte);
    void set_serial(int address, const QString& shown);
    void set_param(int address, uint8_t code, uint8_t value);
    void readout_ended(int address, record::Readout result);
    // The board sent nothing at all during the readout: the detector's result stays unknown.
    void readout_unheard(int address);
    // A type the tool has no readout for: nothing was asked.
    void readout_skipped(int address);

    // The control-panel simulation.
    void simulation_started();
    void set_point(int address, record::Point state);
    void simulation_stopped();

    // Whether an exchange with the board got any byte back. A silence begins with the first that
    // got none and ends with the next that got some; the journal says both.
    void board_heard(bool heard, bool port_open = true);

    // A mode written to a detector: the elements written, and whether both frames were taken.
    void mode_written(int address, uint8_t written, bool accepted);

    // LEDs: switched on or off by the tool, and confirmed seen on site by the engineer.
    void set_led(int address, bool on);
    void set_led_seen(int address, bool seen);

    // What an earlier visit learned, taken as the record: its detectors, how far its search
    // went and its journal. Nothing is logged for it.
    void restore(const std::array<record::Detector, Last>& detectors, int searched_to,
                 const QList<record::Event>& events);

    // Where the times come from (the wall clock unless a test says otherwise).
    void set_clock(std::function<QDateTime()> now) { now_ = std::move(now); }

    // A line of the journal that no address owns (a read-all started, a file imported).
    void note(const QString& text) { log(0, text); }
    // A run over every detector (the read-all, the LED walk) has ended, as `text` says.
    void run_ended(const QString& text) {
        log(0, text);
        emit run_finished();
    }

  signals:
    void changed(int address); // 0: several addresses at once
    void logged(const record::Event& event);
    // A search, or a readout of one detector, has ended, however it went.
    void search_finished();
    void readout_finished(int address);
    void run_finished();
    // A mode write kept, a silence begun or ended: for the site file, which keeps them all.
    void mode_write_added(const record::Mode_Write& write);
    void silence_changed(const record::Silence& silence);

  private:
    record::Detector* edit(int address);
    void log(int address, const QString& text);

    std::array<record::Detector, Last> detectors_;
    QList<record::Event> events_;
    QList<record::Silence> silences_;
    QList<record::Mode_Write> mode_writes_;
    std::function<QDateTime()> now_;
    bool simulated_ = false;
    int searched_to_ = 0;
    int searches_ = 0;
    QString search_stop_;
};
