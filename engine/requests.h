#pragma once
#include <functional>

struct Tool;

// Runs a user request at once when the bus is free, or as soon as the running step ends.
void Run_User_Request(Tool& t, std::function<void()> request);

// A search owns the bus from its re-arm to its last step: a request that would replace its state
// (LED, mode write from a panel left open) would leave the grid locked and the search button
// hidden for good, so such requests are dropped while it runs.
bool Search_Under_Way(const Tool& t);

// Marks the bus as in use for its lifetime (a Bus_Task step, or the re-arm of a search). When the
// outermost one ends, the requests that came meanwhile are run.
class Bus_Busy_Scope {
  public:
    explicit Bus_Busy_Scope(Tool& t);
    ~Bus_Busy_Scope();
    Bus_Busy_Scope(const Bus_Busy_Scope&) = delete;
    Bus_Busy_Scope& operator=(const Bus_Busy_Scope&) = delete;

  private:
    Tool& t_;
};
