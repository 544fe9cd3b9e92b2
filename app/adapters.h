#pragma once
#include <QString>
struct Tool;

// "Adaptateurs série...": the serial adapters present, refreshed as they come and go; the one
// chosen is opened for this run and remembered by its stable name, so that the next start opens
// the same adapter whatever number the system gives it that day.
void Adapters_Mnu_Click(Tool& t);
// The adapter remembered, or empty.
QString remembered_adapter();
// A port chosen by its number forgets the adapter remembered.
void forget_adapter();
