// Placeholder until this file is written.
#include "engine/connection.h"
#include "app/tool.h"

void Probe_Interface(Tool&) {}
void Read_Version(Tool&) {}
void Idle_Status(Tool&) {}
