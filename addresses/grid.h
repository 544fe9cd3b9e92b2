#pragma once
struct Tool;

void Adr_Box_Click(Tool& t, int index);
