#include "engine/requests.h"

#include "model/tool.h"

bool Search_Under_Way(const Tool& t) {
    return t.S.Task_State == Task::Search_Addresses || t.S.Task_State == Task::Search_End;
}
