#pragma once
struct Tool;

void Adr_Status_Cde_Click(Tool& t);
void Simulation_Poll(Tool& t); // state 7
void Simulation_Stop(Tool& t); // state 8
// Ends a running simulation at once, as its stop click and its stop step do, with no exchange.
void stop_simulation_now(Tool& t);
