#pragma once
struct Tool;

// (Re)opens the serial port Com_Port at 9600,N,8,1 and starts the task tick.
void Open_Com_Port(Tool& t);
