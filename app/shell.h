#pragma once
struct Tool;

// Start-up, main loop and shutdown of the main window.
void Form_Load(Tool& t);
// Connects every control, timer and line event to its handler, once per form; Form_Load does it
// first.
void wire_handlers(Tool& t);    // the load sequence; connects the handlers
void main_loop(Tool& t);        // runs until Quit_Flag; blocks while there is nothing to do
void Form_QueryUnload(Tool& t); // close box or any other unload
void Quit_Mnu_Click(Tool& t);
void Close_Cmd_Click(Tool& t);

// Load sequence steps 1 to 3: the address grid, the drawing of the loop and the interface panel.
void build_grid(Tool& t);
void draw_loop(Tool& t);
void place_emul_frm(Tool& t);

// One pass of the main loop: wait for events and handle them, then run one bus task step if
// the task tick has come. main_loop repeats it until Quit_Flag.
void main_loop_pass(Tool& t);
