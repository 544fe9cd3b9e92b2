#pragma once
struct Tool;

// (Re)opens the serial port Com_Port at 9600,N,8,1 and starts the task tick. A port that cannot
// be opened is reported once, then tried again quietly (port_retry_timer_timer).
void Open_Com_Port(Tool& t);

// Opens the device COM Com_Port names now and drains what waits there, without a word: the
// interface panel's tooltip says which device it is. False when it cannot be opened.
bool open_device(Tool& t);

// Every 2 s after a failed opening, until the port opens (an adapter plugged in, rights given):
// then the task tick starts and the board is probed as after any opening.
void port_retry_timer_timer(Tool& t);
