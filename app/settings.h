#pragma once
#include <QSettings>
#include <QString>
struct Tool;

// The user's configuration, where what the tool remembers beyond its two-line settings file goes
// (~/.config/kalvenor/kalvenor.conf on Linux).
QSettings user_settings();

QString config_path(); // the settings file in the current directory
void Read_Config(Tool& t);
void Write_Config(Tool& t);
