#pragma once
#include <cstdint>
struct Tool;

// A single-byte command whose answer must be `expected`.
bool Send_Command(Tool& t, uint8_t cmd, uint8_t expected);
// A command frame: header 0x40 (+1 flag A, +2 flag B), P0 and P1 echoed, P2 answered by two
// bytes (three with flag B), left in Rx_Bytes.
bool Send_Frame(Tool& t, uint8_t p0, uint8_t p1, uint8_t p2, bool flag_a, bool flag_b);
