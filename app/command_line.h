#pragma once
#include <QString>
#include <QStringList>

// The options of the window program. Without any, it starts as it always has.
struct Command_Line {
    bool help = false;
    bool version = false;
    bool list_ports = false;
    int port_number = 0; // --port COMn: this run only, the settings file keeps its own
    QString port_path;   // --port PATH: the device itself, this run only
    QString trace;       // --trace FILE
    QString error;       // in French; set when the arguments cannot be used
};

// A port as the options take it: COM1 to COM16, or a device path (with a '/'). False for
// anything else.
bool parse_port(const QString& text, int* number, QString* path);

// `args` without the program's name.
Command_Line parse_command_line(const QStringList& args);
QString usage_text();
QString version_text(const QString& program = QStringLiteral("kalvenor"));
