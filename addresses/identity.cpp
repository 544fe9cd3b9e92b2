// Placeholder until this file is written.
#include "addresses/identity.h"
#include "app/tool.h"

void Read_Identity(Tool&) {}
