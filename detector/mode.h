#pragma once
struct Tool;

void Opto_Check_Click(Tool& t);
void Thermo_Check_Click(Tool& t);
void Mode_Write(Tool& t); // state 16
void Value_Lbl_Click(Tool& t, int index);
void Value_Lbl_MouseMove(Tool& t, int index);
void Param_Lbl_Click(Tool& t, int index);
