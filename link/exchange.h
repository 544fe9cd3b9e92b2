#pragma once
#include <cstdint>
struct Tool;

// Writes one byte and waits up to 2000 ms for the reply; the reply is then in Rx_Bytes.
bool Exchange_Byte(Tool& t, uint8_t byte_out, uint8_t reply_len);

void Comm1_OnComm(Tool& t);
void Timer_Time_Out_Timer(Tool& t);
void Send_Timer_Timer(Tool& t);
void Receive_Timer_Timer(Tool& t);
