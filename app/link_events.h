#pragma once
struct Tool;

// Connects the engine's timers (task tick, paced delay, port retry) to their handlers, and the
// line's signals to the two activity lamps of the interface panel. wire_handlers does it with the
// rest of the wiring; a benchmark that needs the line alone calls it directly.
void wire_link_events(Tool& t);

// Each lamp goes dark 75 ms after the byte that lit it.
void Send_Timer_Timer(Tool& t);
void Receive_Timer_Timer(Tool& t);
