#pragma once
#include <QString>
struct Tool;

// "Importer la liste prévue...": reads a CSV file of the planned detectors, marks each cell with
// what the record says against it, and lists the differences.
void Import_Plan_Mnu_Click(Tool& t);
// "Comparer avec la liste prévue...": lists the differences again, as the record stands now.
void Compare_Mnu_Click(Tool& t);
// The mark in the corner of cell `address` (0: every cell) and its tip, as the record and the
// plan stand.
void show_cell_marks(Tool& t, int address);
// Reads the planned loop from `path` into the tool, as the import does; false with the French
// message naming the file and its first fault.
bool import_plan(Tool& t, const QString& path, QString* why);
