// Placeholder until this file is written.
#include "link/com_port.h"
#include "app/tool.h"

void Open_Com_Port(Tool&) {}
