#pragma once
#include <QString>
#include <cstdint>
struct Tool;

void Start_Bus_Cmd_Click(Tool& t);
bool Rearm_Bus(Tool& t);
void Search_Addresses(Tool& t); // state 3
void Search_End(Tool& t);       // state 4

// Type index and grid name of a type code; index 4 names take Type4_Counter.
uint8_t Type_Index(uint8_t type_code);
QString Type_Name(uint8_t type_code, uint8_t type4_counter);
