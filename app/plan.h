#pragma once
#include <QString>
struct Tool;

// "Importer la liste prévue...": reads a CSV file of the planned detectors, marks each cell with
// what the record says against it, and lists the differences.
void Import_Plan_Mnu_Click(Tool& t);
// "Comparer avec la liste prévue...": lists the differences again, as the record stands now.
void Compare_Mnu_Click(Tool& t);
// The marks in the corners of the cells, and their tips, as the record and the plan stand.
void show_plan_marks(Tool& t);
// Reads the planned loop from `path` into the tool, as the import does; false with the French
// message naming the file and its first fault.
bool import_plan(Tool& t, const QString& path, QString* why);
