#pragma once
#include <QString>
#include <cstdint>

// An address as the grid, the panel and the status line write it: 7 -> "007".
QString three_digits(int n);

// Type index and grid name of a type code; index 4 names take Type4_Counter.
uint8_t type_index(uint8_t type_code);
QString type_name(uint8_t type_code, uint8_t type4_counter);

// The type index a person means by `text`: a grid name (KOR, ZEPHA, DLX508B, KTRW, MURO-S with or
// without its running number, in any case) or a type code (0x1A, 1Ah or 26). -1 when it is
// none of these; 0 for a code the tool does not know, as the grid shows "???".
int type_index_of(const QString& text);
// The type code written in `text` (0x1A, 1Ah or 26), or -1 when it holds none.
int type_code_of(const QString& text);
