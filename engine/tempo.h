#pragma once
#include <cstdint>
struct Tool;

// Pauses ms milliseconds while window events keep being handled; no task tick meanwhile.
void Tempo_Wait(Tool& t, int16_t ms);
void Tempo_Timer(Tool& t);
void Timer_Tache_Timer(Tool& t);

// The task tick's period and a pause's length on the engine's clock: the line's, which soak runs
// and the engine fuzzer speed up.
int tick_ms(const Tool& t);
int clock_ms(const Tool& t, int ms);
// Sets the divider and the periods the form was built with: task tick, and the line's reply
// time-out.
void set_clock_divider(Tool& t, int divider);
