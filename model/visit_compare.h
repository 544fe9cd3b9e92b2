#pragma once
#include "model/loop_record.h"

#include <QDateTime>
#include <QString>
#include <array>

// What changed at one address between two visits of a loop. A detector is told by its serial
// number: the same type with another serial is a detector replaced. What one of the visits did
// not read is never called a change.
enum class Visit_Change {
    None,         // no detector either time
    Same,         // the same serial, type, parameters and mode
    Found_Again,  // found both times, same type, but a serial missing: the same one or not
    Replaced,     // another serial
    Type_Changed, // another type, serials not both read
    Settings,     // the same detector, a parameter or the mode read both times differs
    Missing,      // found before, not now (the last search went past it)
    New           // found now, not before
};

using Visit_Detectors = std::array<record::Detector, Loop_Record::Last>; // element n-1: address n

// The visit the record is set against: the loop's last visit in the site file, or a report this
// tool wrote elsewhere.
struct Earlier_Visit {
    QDateTime when; // invalid: none
    QString from;   // where it comes from, for the comparison window
    Visit_Detectors detectors;
    int searched_to = 0;
    bool known() const { return when.isValid(); }
};

// `searched_to`: how far the later visit's search went; past it nothing is missing.
Visit_Change compare_visit_detector(const record::Detector& before, const record::Detector& now,
                                    int address, int searched_to);
QString visit_change_text(Visit_Change c);
// What differs in detail, for the comparison window and the report: "série 071200300 →
// 091100258", "paramètre 3 : 12 → 14"...
QString visit_change_detail(const record::Detector& before, const record::Detector& now);
// Where the detector now at `address` stood in the earlier visit, told by its serial, when that
// was elsewhere: "était en 006". A loop whose addresses are given in the order of its wiring
// moves every detector after one taken out or put in; empty otherwise.
QString moved_from(const Visit_Detectors& earlier, const record::Detector& now, int address);
