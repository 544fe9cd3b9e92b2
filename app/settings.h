#pragma once
#include <QString>
struct Tool;

QString config_path(); // the settings file in the current directory
void Read_Config(Tool& t);
void Write_Config(Tool& t);
