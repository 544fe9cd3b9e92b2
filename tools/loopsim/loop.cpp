// Placeholder until this file is written.
#include "tools/loopsim/loop.h"
