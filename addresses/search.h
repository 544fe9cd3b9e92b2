#pragma once
#include "model/detector_types.h"

#include <QString>
#include <cstdint>
struct Tool;

void Start_Bus_Cmd_Click(Tool& t);
bool Rearm_Bus(Tool& t);
void Search_Addresses(Tool& t); // state 3
void Search_End(Tool& t);       // state 4

// A cell's caption: its address over the name of its type.
QString cell_caption(int adr, const QString& name);

// The search ends at Cur_Adr on a failure: its end step shows where and why beside the count,
// which is not the loop's.
void search_cut_short(Tool& t, const QString& why);

// Shows type `code` in the cell of a found address and keeps its index, outside a search: a
// MURO-S takes the running number that its place among the grid's MURO-S gives it.
void set_cell_type(Tool& t, uint8_t adr, uint8_t code);
