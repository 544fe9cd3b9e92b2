#pragma once
struct Tool;

// The device behind the port went away (unplugged adapter, restarted simulator) and the port was
// closed under us: the bus task tries it again before each step, whatever its state, so the
// board reconnects by itself once it is back. A port whose opening failed stays closed until the
// user picks a port again.
void reopen_lost_port(Tool& t);

// The board is taken for gone: the interface panel turns yellow, the short circuit and the
// version are no longer shown, and the version will be read again.
void declare_disconnection(Tool& t);

// Whether the board sent anything back to the exchange just made, and still can (the port is
// open): the record keeps its silences. Returns what it noted.
bool note_board_heard(Tool& t, bool heard);

void Probe_Interface(Tool& t); // state 1
void Read_Version(Tool& t);    // state 2
void Idle_Status(Tool& t);     // state 9
