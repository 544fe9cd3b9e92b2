// Placeholder until this file is written.
#include "link/exchange.h"
#include "app/tool.h"

bool Exchange_Byte(Tool&, uint8_t, uint8_t) { return false; }
void Comm1_OnComm(Tool&) {}
void Timer_Time_Out_Timer(Tool&) {}
void Send_Timer_Timer(Tool&) {}
void Receive_Timer_Timer(Tool&) {}
