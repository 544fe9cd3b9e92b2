// kalvenor-cli: the tool's engine without a window, for scripts. The same steps, frames and
// pauses as the window: it only plays the user's clicks and waits for what the record learns.
//   kalvenor-cli [--port COMn|PATH] [--phase 1|2] [--trace FILE] [--json] COMMAND [ARGS]
#include "app/cli/cli_options.h"
#include "app/cli/cli_session.h"
#include "app/command_line.h"
#include "app/plan.h"
#include "app/presenter.h"
#include "app/quit_signals.h"
#include "app/report_export.h"
#include "app/trace.h"
#include "link/port_list.h"
#include "link/regular_file.h"
#include "model/detector_types.h"

#include <QDir>
#include <QGuiApplication>
#include <cstdio>

namespace {

QString detector_line(const QJsonObject& d) {
    QStringList parts{three_digits(d.value("address").toInt()), d.value("type").toString()};
    for (const char* key : {"pcb_version", "soft_version", "serial", "readout"})
        if (!d.value(key).toString().isEmpty()) parts << d.value(key).toString();
    return parts.join(QLatin1Char(' '));
}

QStringList detector_lines(const QJsonArray& detectors) {
    QStringList lines;
    for (const QJsonValue& d : detectors)
        lines << detector_line(d.toObject());
    return lines;
}

int usage(const QString& why) {
    cli_say(QStringLiteral("kalvenor-cli : ") + why);
    std::fputs(Cli_Usage_Text, stderr);
    return Exit_Usage;
}

// A search, every detector read, then the report in the file asked for. Nothing is written when
// the search or the board fails; a readout that is not complete is written as such.
int report(Cli_Session& cli, const Cli_Options& o) {
    Tool& t = cli.tool();
    Report_Header header;
    int r = o.visit ? cli.restore_visit(o.site_file, o.visit, &header) : cli.read(0);
    if (r != Exit_Done && r != Exit_Partial) return r;
    if (!o.visit) header = cli.header(o.site, o.loop, o.engineer);
    const Report_Rows rows = report_rows(t.record, t.planned);
    const QByteArray content = o.report_kind == QLatin1String("--csv") ? report_csv(rows)
                               : o.report_kind == QLatin1String("--json")
                                   ? report_json(header, t.record, t.planned)
                                   : report_pdf(header, rows, report_totals(t.record, t.planned));
    const QString shown = QDir::toNativeSeparators(o.report_file);
    if (const File_Fault f = write_regular_file(o.report_file, content); f != File_Fault::None) {
        cli_say(QString::fromUtf8("Le rapport n'est pas écrit : %1 : %2.")
                    .arg(shown, file_fault_text(f)));
        return Exit_File;
    }
    if (cli.recorder().recording()) cli.recorder().report_written(o.report_file);
    cli.print({{"report", o.report_file}, {"detectors", int(rows.size())}},
              {QString::fromUtf8("Rapport écrit : %1").arg(shown)});
    return r;
}

// The serial adapters present, as "Adaptateurs série..." lists them; no port is opened.
int list_ports(const Cli_Session& cli) {
    QJsonArray ports;
    QStringList lines;
    for (const Serial_Adapter& a : serial_adapters()) {
        ports << QJsonObject{{"name", a.name()},   {"device", a.device},
                             {"stable", a.stable}, {"description", a.description},
                             {"maker", a.maker},   {"usb", a.usb_ids()},
                             {"held", a.held}};
        lines << a.line();
    }
    if (lines.isEmpty()) lines << QString::fromUtf8("Aucun port série trouvé.");
    cli.print({{"ports", ports}}, lines);
    return Exit_Done;
}

int run(Cli_Session& cli, const Cli_Options& o) {
    Tool& t = cli.tool();
    if (o.port_given) parse_port(o.port, &t.port_for_run.number, &t.port_for_run.path);
    if (QString why; !o.trace.isEmpty() && !start_trace(t, o.trace, &why))
        return usage(QStringLiteral("--trace : ") + why);
    if (!o.report_file.isEmpty()) {
        // Found out now rather than after the whole loop has been read.
        if (const File_Fault f = check_writable(o.report_file); f != File_Fault::None) {
            cli_say(QString::fromUtf8("Le rapport ne pourra pas être écrit : %1 : %2.")
                        .arg(QDir::toNativeSeparators(o.report_file), file_fault_text(f)));
            return Exit_File;
        }
    }
    if (QString why; !o.plan.isEmpty() && !import_plan(t.planned, t.record, o.plan, &why)) {
        cli_say(why);
        return Exit_Usage;
    }
    if (o.command == QLatin1String("visits")) return cli.list_visits(o.site_file);
    if (o.command == QLatin1String("ports")) return list_ports(cli);
    if (o.command == QLatin1String("compare"))
        return cli.compare_visits(o.site_file, o.visit, o.against);
    if (o.command == QLatin1String("report") && o.visit) return report(cli, o);
    if (!o.site_file.isEmpty()) {
        if (const int r = cli.record_into(o.site_file, o.loop, o.engineer); r != Exit_Done)
            return r;
    }

    if (const int r = cli.open(o.phase); r != Exit_Done) return r;
    if (o.command == QLatin1String("probe")) {
        const QJsonObject p = cli.probe_result();
        cli.print(p, {QStringLiteral("version %1").arg(p.value("version").toString()),
                      QStringLiteral("court-circuit %1")
                          .arg(p.value("short_circuit").toBool() ? "oui" : "non")});
        return Exit_Done;
    }
    if (o.command == QLatin1String("watch")) return cli.watch();
    if (o.command == QLatin1String("report")) return report(cli, o);
    if (o.command == QLatin1String("search")) {
        const int r = cli.search();
        if (r == Exit_Interrupted) return r;
        const QJsonArray found = cli.detectors();
        QJsonObject doc{{"found", t.state.Adr_Count}, {"detectors", found}};
        if (!t.record.search_stop().isEmpty()) doc.insert("stopped", t.record.search_stop());
        cli.print(doc, detector_lines(found));
        return r;
    }
    const int r = cli.read(o.address);
    if (r == Exit_Done || r == Exit_Partial) {
        const QJsonArray read = cli.detectors(o.address);
        cli.print({{"detectors", read}}, detector_lines(read));
    }
    return r;
}

} // namespace

int main(int argc, char** argv) {
    file_size_limit_as_fault();
    // No display: the report's PDF is drawn in memory.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    // Heard from here on, whatever the program is doing: the wait under way ends.
    Tool* tool = nullptr;
    bool interrupted = false;
    Quit_Signals signals_heard([&] {
        interrupted = true;
        if (tool) tool->state.Quit_Flag = true;
    });

    const Cli_Options o = parse_cli_options(QCoreApplication::arguments().mid(1));
    if (!o.error.isEmpty()) return usage(o.error);
    if (o.help || o.version) {
        std::fputs(o.help ? Cli_Usage_Text
                          : qPrintable(version_text(QStringLiteral("kalvenor-cli")) + '\n'),
                   stdout);
        return Exit_Done;
    }
    Cli_Session cli(o.json);
    tool = &cli.tool();
    tool->state.Quit_Flag = interrupted;
    return run(cli, o);
}
