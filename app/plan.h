#pragma once
struct Tool;

// "Importer la liste prévue...": reads a CSV file of the planned detectors, marks each cell with
// what the record says against it, and lists the differences.
void Import_Plan_Mnu_Click(Tool& t);
// "Comparer avec la liste prévue...": lists the differences again, as the record stands now.
void Compare_Mnu_Click(Tool& t);
// The marks in the corners of the cells, and their tips, as the record and the plan stand.
void show_plan_marks(Tool& t);
