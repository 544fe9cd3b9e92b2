#pragma once
#include <QString>
#include <cstdint>
struct Tool;

void Read_Param(Tool& t, uint8_t row, uint8_t code, const QString& name);
