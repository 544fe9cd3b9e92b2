#pragma once
#include "model/planned_loop.h"
#include "model/visit_compare.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <map>

struct Tool;
struct Report_Header;

// One address that differs from the earlier visit.
struct Visit_Difference {
    int address = 0;
    Visit_Change change = Visit_Change::None;
    QString before_type, now_type, detail;
};

// The addresses where `now` is not plainly the same detector as `before`: every change, and a
// detector found again whose serial one of the visits did not read. `searched_to`: how far the
// later visit's search went.
QList<Visit_Difference> all_visit_differences(const Visit_Detectors& before,
                                              const Visit_Detectors& now, int searched_to);
// The addresses where the record differs from `earlier`: a detector replaced, a type changed, a
// setting changed, one missing or new. The same detector, or one whose serial either visit did
// not read, is no change.
QList<Visit_Difference> visit_differences(const Earlier_Visit& earlier, const Loop_Record& record);
// "Changements depuis la visite du 03/11/2026", and one line per difference, into the report.
void add_visit_changes(Report_Header& header, const Earlier_Visit& earlier,
                       const Loop_Record& record);

// A JSON report written by this tool, here or on another PC, taken as a visit: its date and
// what it says of each address. False with the French reason when it is not one.
bool read_report_visit(const QByteArray& content, Earlier_Visit* visit, QString* why);
// The same, read from the file at `path` (a regular file, of at most 64 MB).
bool read_report_visit_file(const QString& path, Earlier_Visit* visit, QString* why);
// The same report as a planned list: each address with the type found there (the planned one
// where nothing was found) and its location.
bool read_report_plan(const QByteArray& content, std::map<int, Planned_Loop::Entry>* entries,
                      QString* why);

// "Comparer avec la visite précédente...": the differences in a table.
void Visit_Compare_Mnu_Click(Tool& t);
// "Comparer avec un rapport JSON...": a report from elsewhere becomes the earlier visit.
void Report_Visit_Mnu_Click(Tool& t);
// "Repères de la visite précédente": the cells' marks follow the earlier visit, or the plan.
void Visit_Marks_Mnu_Click(Tool& t);
// The earlier visit is now `earlier` (none when unknown): the marks, the menu and the journal
// follow.
void set_earlier_visit(Tool& t, const Earlier_Visit& earlier);
