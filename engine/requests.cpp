#include "engine/requests.h"

#include "model/tool.h"

bool search_under_way(const Tool& t) {
    return t.state.Task_State == Task::Search_Addresses || t.state.Task_State == Task::Search_End;
}
