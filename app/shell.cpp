// Placeholder until this file is written.
#include "app/shell.h"
#include "app/tool.h"

void Form_Load(Tool&) {}
void Main_Loop(Tool&) {}
void Main_Loop_Pass(Tool&) {}
void Form_QueryUnload(Tool&) {}
void Quit_Mnu_Click(Tool&) {}
void Close_Cmd_Click(Tool&) {}
void Build_Grid(Tool&) {}
void Draw_Loop(Tool&) {}
void Place_Emul_Frm(Tool&) {}
