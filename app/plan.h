#pragma once
#include <QString>
struct Tool;
class Bus_Form;
class Loop_Record;
class Planned_Loop;

// "Importer la liste prévue...": reads a CSV file of the planned detectors, marks each cell with
// what the record says against it, and lists the differences.
void Import_Plan_Mnu_Click(Tool& t);
// "Comparer avec la liste prévue...": lists the differences again, as the record stands now.
void Compare_Mnu_Click(Tool& t);
struct Earlier_Visit;
// The mark in the corner of cell `address` (0: every cell) and its tip, as the record and the
// plan stand; against the earlier visit instead when `visit` is given.
void show_cell_marks(Bus_Form& f, const Loop_Record& record, const Planned_Loop& plan,
                     const Earlier_Visit* visit, int address);
// The same, as the tool's choice of marks stands.
void show_cell_marks(Tool& t, int address);
// Reads the planned loop from `path` into `plan`, noted in the record's journal, as the import
// does; false with the French message naming the file and its first fault, `plan` untouched.
bool import_plan(Planned_Loop& plan, Loop_Record& record, const QString& path, QString* why);
