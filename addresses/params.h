#pragma once
#include "model/runs.h"

#include <QString>
#include <cstdint>
struct Tool;

// Read_Param for the readout that holds `readout`: once it is cancelled (a newer grid click), it
// returns false before touching the panel again. `read`, when given, tells whether the value
// came.
bool Read_Param(Tool& t, uint8_t row, uint8_t code, const QString& name,
                const Readouts::Ticket& readout, bool* read = nullptr);
