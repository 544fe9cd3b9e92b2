#pragma once
#include <QString>
struct Tool;
class Board_State;

// What the window shows of the model's facts. The steps write facts (the board answering, its
// version, a short circuit); the presenter alone turns them into captions and colours.
void wire_presenter(Tool& t);

// The board's version as its panel shows it ("3.1"), or "non lue".
QString interface_version(const Board_State& board);
