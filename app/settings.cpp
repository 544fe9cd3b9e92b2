// Placeholder until this file is written.
#include "app/settings.h"
#include "app/tool.h"

QString Config_Path() { return {}; }
void Read_Config(Tool&) {}
void Write_Config(Tool&) {}
