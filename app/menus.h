#pragma once
struct Tool;

constexpr int Key_F5 = 116;
constexpr int Key_F9 = 120;
constexpr int Key_Escape = 27;
constexpr int Key_V = 86;

void Form_KeyDown(Tool& t, int key_code, int shift);
void Serial_Com_Port_Mnu_Click(Tool& t);
// Before the port is reopened: a search or a simulation under way ends as it ends itself.
void end_operation_for_reopening(Tool& t);
void Phase_Option_Click(Tool& t, int index);
void Status_Frame_MouseMove(Tool& t);
void About_Mnu_Click(Tool& t);
