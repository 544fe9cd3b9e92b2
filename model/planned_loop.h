#pragma once
#include <QByteArray>
#include <QString>
#include <map>

class Loop_Record;

// The loop as the installation plan has it: which detector type goes at which address, and
// where it stands. Read from a CSV file a person writes or exports from a spreadsheet.
class Planned_Loop {
  public:
    struct Entry {
        int type_index = 0; // as type_index_of reads the type column
        int code = -1;      // the type code, when the column gives one
        QString type_text;  // the type column as written
        QString location;   // free text, may be empty
    };

    // A file larger than this is not a plan of 128 addresses.
    static constexpr qint64 Max_Bytes = 1 << 20;

    // Reads `content` as: address, type (grid name or type code, even one the tool has no name
    // for), optional location; separated by ';' or ',' (the first line tells which), fields in
    // double quotes when they hold the separator, an optional header line (a first line whose
    // address holds no digit), UTF-8 with or without BOM, or else Windows-1252. On the first bad
    // line, returns false with a French message naming that line and why, and keeps what it had.
    // A CSV report of this tool is read as a plan too: its address, the type found there (the
    // planned one where nothing was found) and its location.
    bool read(const QByteArray& content, QString* error);
    // Takes `entries` as the plan, each type read again from its text; those the tool cannot
    // read are left out.
    void assign(const std::map<int, Entry>& entries);
    // The file read was not UTF-8 and was read as Windows-1252.
    bool windows_1252() const { return windows_1252_; }

    bool empty() const { return entries_.empty(); }
    const std::map<int, Entry>& entries() const { return entries_; }
    const Entry* at(int address) const;

  private:
    std::map<int, Entry> entries_;
    bool windows_1252_ = false;
};

// What the record says of an address against the plan.
enum class Match { None, Ok, Missing, Unexpected, Wrong_Type };
Match compare(const Planned_Loop& plan, const Loop_Record& record, int address);
QString match_text(Match m);
// The counts of the comparison in one sentence, or why there is none yet (no search has ended).
QString comparison_text(const Planned_Loop& plan, const Loop_Record& record);
