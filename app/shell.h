#pragma once
struct Tool;

// Start-up, main loop and shutdown of the main window.
void Form_Load(Tool& t);        // the load sequence; connects the handlers
void Main_Loop(Tool& t);        // runs until Quit_Flag; blocks while there is nothing to do
void Form_QueryUnload(Tool& t); // close box or any other unload
void Quit_Mnu_Click(Tool& t);
void Close_Cmd_Click(Tool& t);

// Load sequence steps 1 to 3: the address grid, the drawing of the loop and the interface panel.
void Build_Grid(Tool& t);
void Draw_Loop(Tool& t);
void Place_Emul_Frm(Tool& t);

// One pass of the main loop: wait for events and handle them, then run one bus task step if
// the task tick has come. Main_Loop repeats it until Quit_Flag.
void Main_Loop_Pass(Tool& t);
