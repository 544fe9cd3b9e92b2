#pragma once
struct Tool;

void Probe_Interface(Tool& t); // state 1
void Read_Version(Tool& t);    // state 2
void Idle_Status(Tool& t);     // state 9
