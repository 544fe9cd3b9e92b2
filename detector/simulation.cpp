// Placeholder until this file is written.
#include "detector/simulation.h"
#include "app/tool.h"

void Adr_Status_Cde_Click(Tool&) {}
void Simulation_Poll(Tool&) {}
void Simulation_Stop(Tool&) {}
