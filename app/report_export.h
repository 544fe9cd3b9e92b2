#pragma once
#include "app/report.h"
struct Tool;

// The report's header as the tool stands: the board's version, the port and its device, now.
Report_Header report_header(const Tool& t, const QString& site, const QString& loop,
                            const QString& engineer);

// "Exporter le rapport...": asks for the site, the loop and the engineer (remembered in the
// user's configuration) and a folder, then writes the report there as PDF, CSV and JSON: all
// three, or, when one cannot be written, none, with a French message saying why.
void Export_Report_Mnu_Click(Tool& t);
