#pragma once
#include <QJsonObject>
#include <QSet>
#include <QString>
#include <QVector>
#include <array>
#include <cstdint>
#include <map>

namespace loopsim {

// Built by insertion: GCC 12 warns about a dangling pointer in QSet's initializer-list
// constructor once it is inlined.
inline QSet<int> both_phases() {
    QSet<int> phases;
    phases.insert(1);
    phases.insert(2);
    return phases;
}

// One detector of the simulated loop.
struct Detector {
    uint8_t type_code = 0x13;          // answer to frame 0x13
    uint8_t pcb_version = 0x12;        // answer to frame 0x14
    uint8_t soft_version = 0x31;       // answer to frame 0x15
    std::array<uint8_t, 4> serial{};   // answers to frames 0x08..0x0B
    std::map<uint8_t, uint8_t> params; // parameter code (1..7, 12, 15) -> value
    uint8_t mode = 0;                  // read with 0x18; written with 0x96 then 0x85
    uint8_t pending_mode = 0;          // written by 0x96, taken by 0x85
    bool mode_pending = false;
    bool led = false;                 // switched with 0x82 (P2 0x03 on, 0x00 off)
    uint8_t state = 0;                // state byte of the 0x10 poll: 0x01 alarm, 0x08 fault
    uint8_t poll_status = 0;          // status byte of the 0x10 poll; not 0 = com fault
    int probe_refusals = 0;           // the search probe is refused this many times first
    bool second_accepts = false;      // the second attempt (0xC8) is accepted
    QSet<int> phases = both_phases(); // protocol phases (P0 0x81 / 0x88) it answers
    QSet<int> refused;                // frame codes (P0) answered with status 1
    QSet<int> silent;                 // frame codes whose last byte gets no answer
};

// A change of a point's state at a given time of the run (seconds after the first 0x10 poll).
struct Script_Event {
    double at_seconds = 0;
    int address = 0;
    uint8_t state = 0;       // new state byte
    uint8_t poll_status = 0; // new status byte
};

struct Loop {
    uint8_t version = 0x31;            // answer to 0x02
    uint8_t status = 0x00;             // answer to 0x08; 0x10 = short circuit
    bool rearm_answers = true;         // answers 0x04 and 0x03
    std::map<int, Detector> detectors; // address (1..128) -> detector
    QVector<Script_Event> script;
};

// A loop with a mix of every type, nine MURO-S in a row among them.
Loop default_loop();
// Reads a loop description (JSON); on error returns false and says why.
bool load_loop(const QString& path, Loop* loop, QString* error);
bool parse_loop(const QJsonObject& json, Loop* loop, QString* error);

} // namespace loopsim
