#pragma once
#include <QList>
#include <QString>
#include <QStringList>

class Loop_Record;
struct Tool;

// "Journal...": the events of the record, newest last, and per address what the simulations
// saw: the walk test (which addresses have been in alarm since the last simulation started) and
// the counts of alarms and faults with their first and last time.
void Journal_Mnu_Click(Tool& t);

QList<QStringList> journal_events(const Loop_Record& record);
QList<QStringList> journal_summary(const Loop_Record& record);
// "Testés : 3 sur 20 ; non testés : 004, 007..." for the found addresses; empty before any
// simulation.
QString walk_test_text(const Loop_Record& record);
