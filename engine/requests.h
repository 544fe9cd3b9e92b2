#pragma once
#include <QString>
struct Tool;

// A search owns the bus from its re-arm to its last step: a request that would replace its state
// (LED, mode write from a panel left open) would leave the grid locked and the search button
// hidden for good, so such requests are dropped while it runs.
bool search_under_way(const Tool& t);

// What the search shows in the status line (its position, then the count found), kept so that
// it comes back once a run's summary gives way.
void show_search_status(Tool& t, const QString& caption);
// A read-all or an LED walk leaves its summary in the status line when it ends; the next
// operation to start puts back what the search showed there.
void show_run_summary(Tool& t, const QString& summary);
void clear_run_summary(Tool& t);
