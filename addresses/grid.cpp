// Placeholder until this file is written.
#include "addresses/grid.h"
#include "app/tool.h"

void Adr_Box_Click(Tool&, int) {}
