#pragma once
#include <QString>
#include <cstdint>
struct Tool;

void Read_Param(Tool& t, uint8_t row, uint8_t code, const QString& name);

// Read_Param for a readout started when selection_count was `selection`: once a newer grid click
// has come, it returns false before touching the panel again. `read`, when given, tells whether
// the value came.
bool Read_Param(Tool& t, uint8_t row, uint8_t code, const QString& name, uint16_t selection,
                bool* read = nullptr);
