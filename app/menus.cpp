// Placeholder until this file is written.
#include "app/menus.h"
#include "app/tool.h"

void Form_KeyDown(Tool&, int, int) {}
void Serial_Com_Port_Mnu_Click(Tool&) {}
void Phase_Option_Click(Tool&, int) {}
void Status_Frame_MouseMove(Tool&) {}
void About_Mnu_Click(Tool&) {}
