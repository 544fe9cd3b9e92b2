#pragma once
#include <cstdint>
struct Tool;

void Led_Command(Tool& t); // state 6

// Sends the LED-off frame to `address` and hides its mark; the outcome goes to Last_Result.
// True when the detector accepted it.
bool switch_led_off(Tool& t, uint8_t address);
// Sends the LED-on frame to `address`; shows its mark and keeps it as the lit LED when the
// detector accepts it, which it returns.
bool switch_led_on(Tool& t, uint8_t address);
void Led_On_Cde_Click(Tool& t);
void Led_Off_Cde_Click(Tool& t);
