// Time to build the report of a full loop of 128 read detectors, planned with locations, after a
// simulation: the PDF, the CSV and the JSON, as "Exporter le rapport..." makes them.
//   bench_report [DIR]     (with DIR, the three files are left there to be looked at)
#include "app/report.h"
#include "bench/figure.h"
#include "model/loop_record.h"
#include "model/planned_loop.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <cstdio>

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    Loop_Record record;
    Planned_Loop plan;
    QByteArray planned;
    record.search_started();
    for (int a = 1; a <= 128; ++a) {
        record.set_found(a);
        record.set_type(a, 0x1A, QStringLiteral("DLX508B"));
        record.readout_started(a);
        record.set_version(a, false, 0x21);
        record.set_version(a, true, 0x43);
        record.set_serial(a, QStringLiteral("0903%1").arg(a, 5, 10, QLatin1Char('0')));
        for (uint8_t code : {12, 1, 2, 3, 4, 5, 6, 7, 15, 16})
            record.set_param(a, code, uint8_t(a + code));
        record.readout_ended(a, record::Readout::Complete);
        planned += QStringLiteral("%1;DLX508B;Bâtiment B, étage %2, bureau %3\n")
                       .arg(a)
                       .arg(a / 20)
                       .arg(a)
                       .toUtf8();
    }
    record.simulation_started();
    for (int a = 1; a <= 128; a += 3)
        record.set_point(a, record::Point::Alarm);
    QString error;
    if (!plan.read(planned, &error)) return std::fprintf(stderr, "%s\n", qPrintable(error)), 1;

    const Report_Header header{QStringLiteral("Lycée Jean-Moulin"),
                               QStringLiteral("Boucle 2"),
                               QStringLiteral("M. Durand"),
                               QDateTime::currentDateTime(),
                               QStringLiteral("3.1"),
                               QStringLiteral("COM1 (/dev/ttyUSB0)"),
                               {},
                               {}};
    QElapsedTimer clock;
    clock.start();
    const Report_Rows rows = report_rows(record, plan);
    const QByteArray pdf = report_pdf(header, rows, report_totals(record, plan));
    const QByteArray csv = report_csv(rows);
    const QByteArray json = report_json(header, record, plan);
    const double ms = clock.nsecsElapsed() / 1e6;
    std::printf("report of 128 detectors: %.0f ms (PDF %lld bytes, CSV %lld, JSON %lld)\n", ms,
                qlonglong(pdf.size()), qlonglong(csv.size()), qlonglong(json.size()));
    if (argc > 1) {
        for (const auto& [name, content] :
             {std::pair{"rapport.pdf", pdf}, {"rapport.csv", csv}, {"rapport.json", json}}) {
            QFile f(QDir(argv[1]).filePath(name));
            if (!f.open(QIODevice::WriteOnly) || f.write(content) != content.size()) return 1;
        }
    }
    print_figure("report of 128 detectors: PDF, CSV and JSON", ms, "ms", No_Anchor, "< 1000");
    return 0;
}
