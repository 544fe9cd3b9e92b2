#include "engine/requests.h"

#include "app/tool.h"

void Run_User_Request(Tool& t, std::function<void()> request) {
    if (t.S.Quit_Flag) return;
    if (t.Bus_Busy > 0)
        t.Pending_Requests.push_back(std::move(request));
    else
        request();
}

bool Search_Under_Way(const Tool& t) {
    return t.S.Task_State == Task::Search_Addresses || t.S.Task_State == Task::Search_End;
}

Bus_Busy_Scope::Bus_Busy_Scope(Tool& t) : t_(t) {
    ++t_.Bus_Busy;
}

Bus_Busy_Scope::~Bus_Busy_Scope() {
    if (--t_.Bus_Busy > 0) return;
    while (!t_.Pending_Requests.empty() && t_.Bus_Busy == 0) {
        auto request = std::move(t_.Pending_Requests.front());
        t_.Pending_Requests.pop_front();
        if (!t_.S.Quit_Flag) request();
    }
}
