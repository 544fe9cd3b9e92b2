// Placeholder until this file is written.
#include "addresses/search.h"
#include "app/tool.h"

void Start_Bus_Cmd_Click(Tool&) {}
bool Rearm_Bus(Tool&) { return false; }
void Search_Addresses(Tool&) {}
void Search_End(Tool&) {}
uint8_t Type_Index(uint8_t) { return 0; }
