// Placeholder until this file is written.
#include "link/frames.h"
#include "app/tool.h"

bool Send_Command(Tool&, uint8_t, uint8_t) { return false; }
bool Send_Frame(Tool&, uint8_t, uint8_t, uint8_t, bool, bool) { return false; }
