// Placeholder until this file is written.
#include "link/tempo.h"
#include "app/tool.h"

void Tempo_Wait(Tool&, int16_t) {}
void Tempo_Timer(Tool&) {}
void Timer_Tache_Timer(Tool&) {}
