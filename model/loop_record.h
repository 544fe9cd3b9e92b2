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

    int mode() const;
};

struct Event {
    QDateTime at;
    int address = 0; // 0: the whole loop
    QString text;
};

constexpr uint8_t Mode_Code = 16;
// The journal keeps the newest events up to this many; a simulation left running for days
// would otherwise grow it without end.
constexpr int Max_Events = 50000;

QString version_text(int byte);
// The sensing elements a mode byte leaves on, as the panel words them; empty when not read.
QString mode_text(int byte);
QString point_text(Point p);
QString readout_text(Readout r);

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

    // The search: a new one forgets the detectors found by the previous one, their types and
    // their readouts, and says so in the journal.
    void search_started();
    void set_found(int address);
    void set_type(int address, uint8_t code, const QString& name);

    // A readout of one detector.
    void readout_started(int address);
    void set_version(int address, bool soft, uint8_t byte);
    void set_serial(int address, const QString& shown);
    void set_param(int address, uint8_t code, uint8_t value);
    void readout_ended(int address, record::Readout result);

    // The control-panel simulation.
    void simulation_started();
    void set_point(int address, record::Point state);
    void simulation_stopped();

    // LEDs: switched on or off by the tool, and confirmed seen on site by the engineer.
    void set_led(int address, bool on);
    void set_led_seen(int address, bool seen);

    // Where the times come from (the wall clock unless a test says otherwise).
    void set_clock(std::function<QDateTime()> now) { now_ = std::move(now); }

    // A line of the journal that no address owns (a read-all started, a file imported).
    void note(const QString& text) { log(0, text); }

  signals:
    void changed(int address); // 0: several addresses at once
    void logged(const record::Event& event);

  private:
    record::Detector* edit(int address);
    void log(int address, const QString& text);

    std::array<record::Detector, Last> detectors_;
    QList<record::Event> events_;
    std::function<QDateTime()> now_;
    bool simulated_ = false;
};
