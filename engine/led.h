#pragma once
struct Tool;

void Led_Command(Tool& t); // state 6
void Led_On_Cde_Click(Tool& t);
void Led_Off_Cde_Click(Tool& t);
