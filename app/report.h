#pragma once
#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

class Loop_Record;
class QJsonArray;
struct Tool;
class Planned_Loop;

// The commissioning report of a loop: one row per address found or planned, as a PDF for the
// handover file, a CSV for asset registers and a JSON document of the whole record.
struct Report_Header {
    QString site, loop, engineer;
    QDateTime when;
    QString interface_version; // as the interface panel shows it, e.g. "3.1"
    QString port;
    // The section of the changes since the earlier visit: its title, one line per address;
    // no section when the title is empty.
    QString changes_title;
    QStringList changes;
};

using Report_Rows = QList<QStringList>;

// The CSV's columns, in order (the README lists them); each row has one cell per column.
QStringList report_columns();
// Indexes of those columns in a row.
namespace column {
enum Index {
    Address,
    Type,
    Code,
    Pcb,
    Soft,
    Serial,
    Mode,
    Location,
    Planned_Type,
    Comparison,
    Readout_Col,
    Readout_Time,
    Walk_Test,
    Alarms,
    Point_Faults,
    Com_Faults,
    Led_Seen,
    Column_Count
};
} // namespace column
Report_Rows report_rows(const Loop_Record& record, const Planned_Loop& plan);
// Counts under the table: found, planned, each comparison outcome, readouts, walk test.
QString report_totals(const Loop_Record& record, const Planned_Loop& plan);

// ';' separated, UTF-8 with a BOM, CRLF: what French spreadsheet software opens as it is.
QByteArray report_csv(const Report_Rows& rows);
// Every address with anything known, as the JSON report lists them.
QJsonArray report_detectors(const Loop_Record& record, const Planned_Loop& plan);
QByteArray report_json(const Report_Header& header, const Loop_Record& record,
                       const Planned_Loop& plan);
// A4 landscape, French: the header, the table over as many pages as it needs, the totals and
// room for two signatures.
QByteArray report_pdf(const Report_Header& header, const Report_Rows& rows, const QString& totals);
