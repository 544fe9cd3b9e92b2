// Placeholder until this file is written.
#include "addresses/params.h"
#include "app/tool.h"

void Read_Param(Tool&, uint8_t, uint8_t, const QString&) {}
