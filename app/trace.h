#pragma once
#include <QString>
struct Tool;

// "Enregistrer la trace...": asks for a file and records the line in it, or stops the trace
// under way. The trace also starts from the command line (--trace FILE).
void Trace_Mnu_Click(Tool& t);
// Starts recording the line in `path`; false with a French reason.
bool start_trace(Tool& t, const QString& path, QString* why);
