#pragma once
#include "model/tool.h"

#include <QString>

// "Lire tous les détecteurs": once the search has found the loop, reads the identity and the
// parameters of every found detector in address order, each exactly as a click on its cell
// would, showing it in the panel and the progress in the status line. A detector that answers
// nothing is marked failed in the record and the run goes on.
// The run itself is Tool::read_all (Read_All_Run), whose start, stop and step are defined with
// these.
void Read_All_Mnu_Click(Tool& t); // starts the run, or stops the one under way
void Read_All(Tool& t);           // state 17: reads the next detector

// Whether a run over every found detector may start now; when not, says why in a box titled
// `title`, naming the run as `what` ("Lecture", "Allumage").
bool run_may_start(Tool& t, const QString& what, const QString& title);

// A search, a grid click, a simulation or a port reopening starts: a read-all or an LED walk under
// way stops, and the status line gives back what it showed before the last run.
void another_operation_starts(Tool& t);

// "18 complètes, 1 partielle, 1 sans réponse sur 20", as the journal and the command line say it.
QString read_all_counts(const Read_All_Run& run);
