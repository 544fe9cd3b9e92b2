#pragma once
#include <QString>
#include <QStringList>

// What kalvenor-cli is asked to do: the options before the command, the command and its own
// arguments. A mistake leaves `error` set, in French.
struct Cli_Options {
    bool help = false;
    bool version = false;
    bool json = false;
    bool port_given = false;
    QString port;
    int phase = 0; // 0: the settings file's
    QString trace;
    QString site_file; // --site: the site file every command records into

    QString command;     // probe, search, read, watch, report, visits, compare
    qint64 visit = 0;    // compare: the visit looked at, 0 for the last
    QString against;     // compare --with: a JSON report taken as the visit before
    int address = -1;    // read: 1 to 128, or 0 for all
    QString report_kind; // --csv, --json or --pdf
    QString report_file;
    QString site, loop, engineer, plan;

    QString error;
};

// `args` without the program's name.
Cli_Options parse_cli_options(const QStringList& args);

// How kalvenor-cli ends; the README and --help list them.
enum Cli_Exit {
    Exit_Done = 0,
    Exit_File = 1,     // the report cannot be written, or the site file cannot be used
    Exit_Usage = 2,    // bad usage, or a plan file that cannot be read
    Exit_Port = 3,     // the port does not open, or is lost for good during the command
    Exit_No_Board = 4, // no interface board answers, or it stops answering
    Exit_Search = 5,   // the search was cut short: nothing is written
    Exit_Nobody = 6,   // no detector answers at the address asked (watch: none at all;
                       // compare: no earlier visit of the loop)
    Exit_Partial = 7,  // a readout is not complete (the report is written and says which)
    Exit_Interrupted = 130
};

extern const char Cli_Usage_Text[];
