#pragma once
#include <QString>
struct Tool;

// With no site open, the record still goes into a file: the session file in the user's data
// folder, a site file of its own. Opening a site hands the record over to it.
QString session_file_path();
// At start: offers to take up the last session when it ended without a report, then records
// this run into the session file. A second window, or a session file that cannot be used, is
// noted in the journal and the run goes on unrecorded.
void begin_session_file(Tool& t);
