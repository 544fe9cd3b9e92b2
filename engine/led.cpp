// Placeholder until this file is written.
#include "engine/led.h"
#include "app/tool.h"

void Led_Command(Tool&) {}
void Led_On_Cde_Click(Tool&) {}
void Led_Off_Cde_Click(Tool&) {}
