#pragma once
#include <QMap>
#include <QString>
#include <QStringList>

// The options of the window program, and the site file it opens once its window shows. Without
// any, it starts as it always has.
struct Command_Line {
    bool help = false;
    bool version = false;
    bool list_ports = false;
    // --last-site: the site file opened last, as if it were named after the options
    bool last_site = false;
    int port_number = 0; // --port COMn: this run only, the settings file keeps its own
    QString port_path;   // --port PATH: the device itself, this run only
    QString trace;       // --trace FILE
    QString site;        // the one argument after the options: the site file opened at start
    QString error;       // in French; set when the arguments cannot be used
};

// A port as the options take it: COM1 to COM16, or a device path (with a '/'). False for
// anything else.
bool parse_port(const QString& text, int* number, QString* path);

// Why a --port value is refused.
QString port_error(const QString& value);

// What a front's options are: those that take a value, and those that stand alone.
struct Option_Set {
    QStringList with_value; // "--port"...
    QStringList flags;      // "--version", "-h"...
};

// The options at the front of a command line, as "--name value" or "--name=value", a later one
// winning. Reading stops at the first argument that is not an option, which begins `rest`, or at
// the first mistake (an unknown option, a value missing or empty), said in French in `error`.
// With `skip_qt`, Qt's own options (-platform offscreen...) are left to Qt.
struct Read_Options {
    QMap<QString, QString> values; // a flag's value is empty
    QStringList rest;
    QString error;
    bool has(const char* name) const { return values.contains(QLatin1String(name)); }
    QString value(const char* name) const { return values.value(QLatin1String(name)); }
};
Read_Options read_options(const QStringList& args, const Option_Set& set, bool skip_qt = false);

// The window program's options; `args` without the program's name.
Command_Line parse_command_line(const QStringList& args);
QString usage_text();
QString version_text(const QString& program = QStringLiteral("kalvenor"));
