#pragma once
struct Tool;

// A search owns the bus from its re-arm to its last step: a request that would replace its state
// (LED, mode write from a panel left open) would leave the grid locked and the search button
// hidden for good, so such requests are dropped while it runs.
bool search_under_way(const Tool& t);
