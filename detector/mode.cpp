// Placeholder until this file is written.
#include "detector/mode.h"
#include "app/tool.h"

void Opto_Check_Click(Tool&) {}
void Thermo_Check_Click(Tool&) {}
void Mode_Write(Tool&) {}
void Value_Lbl_Click(Tool&, int) {}
void Value_Lbl_MouseMove(Tool&, int) {}
void Param_Lbl_Click(Tool&, int) {}
