#pragma once
struct Tool;

void Adr_Box_Click(Tool& t, int index);

// What the user sees of a click on cell `index` at once: the rows hidden, the panel captioned and
// placed beside the cell, the LED buttons hidden until the readout ends.
void open_panel(Tool& t, int index);
