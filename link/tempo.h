#pragma once
#include <cstdint>
struct Tool;

// Pauses ms milliseconds while window events keep being handled; no task tick meanwhile.
void Tempo_Wait(Tool& t, int16_t ms);
void Tempo_Timer(Tool& t);
void Timer_Tache_Timer(Tool& t);
