#pragma once
struct Tool;

// The control-panel simulation is Tool::simulation (Simulation_Run), whose start, stop and steps
// are defined with these.
void Adr_Status_Cde_Click(Tool& t); // starts the run, or stops the one under way
void Simulation_Poll(Tool& t);      // state 7
void Simulation_Stop(Tool& t);      // state 8
