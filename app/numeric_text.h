#pragma once
#include <QStringView>

// How the tool reads a number typed by the user or stored in the settings file: the number the
// text begins with (blanks before it skipped; an optional sign, digits with an optional decimal
// point, an optional exponent), 0 when it does not begin with one. An out-of-range exponent
// gives an infinite value, which no range check accepts.
double leading_number(QStringView text);

// True when the text, blanks around it aside, is one number and nothing else.
bool is_number(QStringView text);

// Nearest whole number of v when it fits 0..255 (ties to even); false otherwise.
bool round_to_byte(double v, int* out);
