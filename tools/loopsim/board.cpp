// Placeholder until this file is written.
#include "tools/loopsim/board.h"
