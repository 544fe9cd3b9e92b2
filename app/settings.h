#pragma once
#include <QString>
struct Tool;

QString Config_Path(); // the settings file in the current directory
void Read_Config(Tool& t);
void Write_Config(Tool& t);
