#pragma once
#include <QString>
struct Tool;

// A search owns the bus from its re-arm to its last step: a request that would replace its state
// (LED, mode write from a panel left open) would leave the grid locked and the search button
// hidden for good, so such requests are dropped while it runs.
bool search_under_way(const Tool& t);

// A read-all or an LED walk leaves its summary in the status line when it ends; the next
// operation to start puts back what the line showed before the run.
void remember_status_before_run(Tool& t);
void show_run_summary(Tool& t, const QString& summary);
void clear_run_summary(Tool& t);
