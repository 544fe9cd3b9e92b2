#pragma once
struct Tool;

// One step of the operation selected by Task_State. Called by the main loop only.
void Bus_Task(Tool& t);
