// kalvenor-cli: the tool's engine without a window, for scripts. The same steps, frames and
// pauses as the window: it only plays the user's clicks and waits for what the window would show.
//   kalvenor-cli [--port COMn|PATH] [--phase 1|2] [--trace FILE] [--json] COMMAND [ARGS]
#include "addresses/read_all.h"
#include "addresses/search.h"
#include "app/command_line.h"
#include "app/quit_signals.h"
#include "app/report.h"
#include "app/shell.h"
#include "app/trace.h"
#include "detector/simulation.h"
#include "link/qt_serial_port.h"
#include "model/detector_types.h"
#include "model/tool.h"

#include <QDeadlineTimer>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <cstdio>

namespace {

enum Exit { Done = 0, File_Error = 1, Usage = 2, Port_Error = 3, No_Board = 4, Interrupted = 130 };

const char Usage_Text[] =
    "Usage : kalvenor-cli [--port COMn|CHEMIN] [--phase 1|2] [--trace FICHIER] [--json] COMMANDE\n"
    "Commandes :\n"
    "  probe                     version de la carte d'interface, court-circuit\n"
    "  search                    adresses trouvées et leurs types\n"
    "  read N|all                identité et paramètres (recherche d'abord si besoin)\n"
    "  watch                     simulation de la centrale, une ligne par changement, jusqu'à "
    "Ctrl+C\n"
    "  report --csv|--json|--pdf FICHIER   recherche, lecture de tous, puis le rapport\n"
    "Sans --port, le port de Kalvenor-2.cfg du dossier courant. Codes de sortie : 0 fait,\n"
    "1 rapport impossible à écrire, 2 usage incorrect, 3 port inutilisable, 4 aucune carte ne\n"
    "répond, 130 interrompu (sauf watch, qui finit ainsi).\n";

void err(const QString& s) {
    std::fprintf(stderr, "%s\n", qPrintable(s));
    std::fflush(stderr);
}

// Boxes have nobody to answer them: their text goes to standard error.
struct Cli_Dialogs : Dialogs {
    QVariant msg_box(const QString& prompt, int, const QString&) override {
        err(prompt);
        return 1;
    }
    QString input_box(const QString&, const QString&, const QString&) override { return {}; }
    void show_about() override {}
};

class Cli {
  public:
    explicit Cli(bool json) : json_(json) {
        t_.link.set_port(make_qt_serial_port());
        t_.dialogs = &dialogs_;
    }
    Tool& tool() { return t_; }

    // Main loop passes until `done` or `ms` (-1: no limit); false on the limit or a signal.
    bool run_until(const std::function<bool()>& done, int ms) {
        const QDeadlineTimer limit(ms);
        while (!done()) {
            if (t_.state.Quit_Flag || limit.hasExpired()) return false;
            main_loop_pass(t_);
        }
        return true;
    }
    bool idle() const { return t_.state.Task_State == Task::Idle_Status && t_.link.bus_free(); }

    int open(int phase) {
        Form_Load(t_);
        if (phase) {
            t_.state.Phase_Number = uint8_t(phase);
            t_.state.Phase_Code = phase == 1 ? 1 : 8;
        }
        if (!t_.link.Comm1() || !t_.link.Comm1()->PortOpen()) return Port_Error;
        // Nobody watches a window appear: the first probe goes at once, not at the first tick.
        t_.state.Task_Tick = true;
        // The probe gives up after its retries and declares the board gone.
        if (!run_until([this] { return t_.state.Connected && idle(); }, 12000)) {
            if (!t_.state.Quit_Flag) err(QString::fromUtf8("Aucune carte d'interface ne répond."));
            return No_Board;
        }
        return Done;
    }

    bool search() {
        progress(QStringLiteral("Recherche des adresses..."));
        Start_Bus_Cmd_Click(t_);
        return run_until(
            [this] { return !t_.state.Grid_Locked && idle() && t_.form.Start_Bus_Cmd.Visible(); },
            -1);
    }

    bool read(int address) {
        if (t_.state.Adr_Count == 0 && !search()) return false;
        if (address == 0) {
            progress(QStringLiteral("Lecture de tous les détecteurs..."));
            Read_All_Mnu_Click(t_);
            return run_until([this] { return !t_.read_all.active && idle(); }, -1);
        }
        t_.form.Adr_Box(address).click();
        return run_until([this] { return idle() && t_.form.Led_On_Cde.Visible(); }, -1);
    }

    QJsonObject probe_result() const {
        return {{"version", interface_version(t_)}, {"short_circuit", t_.form.Cc_Lbl.Visible()}};
    }

    QJsonArray detectors(int only = 0) const {
        QJsonArray out;
        for (const QJsonValue& d : report_detectors(t_.record, t_.planned))
            if (only == 0 || d.toObject().value("address").toInt() == only) out << d;
        return out;
    }

    // One JSON document per command; `watch` prints one per line, one per change.
    void print(const QJsonObject& doc, const QStringList& lines, bool one_line = false) const {
        const QByteArray text =
            json_ ? QJsonDocument(doc).toJson(one_line ? QJsonDocument::Compact
                                                       : QJsonDocument::Indented) +
                        (one_line ? "\n" : "")
                  : lines.join('\n').toUtf8() + '\n';
        std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
        std::fflush(stdout);
    }

    void progress(const QString& s) const { err(s); }

  private:
    Tool t_;
    Cli_Dialogs dialogs_;
    bool json_;
};

QString detector_line(const QJsonObject& d) {
    QStringList parts{Three_Digits(d.value("address").toInt()), d.value("type").toString()};
    for (const char* key : {"pcb_version", "soft_version", "serial", "readout"})
        if (!d.value(key).toString().isEmpty()) parts << d.value(key).toString();
    return parts.join(QLatin1Char(' '));
}

bool write_file(const QString& path, const QByteArray& content) {
    QSaveFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(content) == content.size() && f.commit();
}

} // namespace

int main(int argc, char** argv) {
    // No display: the report's PDF is drawn in memory.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QStringList args = QCoreApplication::arguments().mid(1);
    const auto usage = [](const QString& why) {
        if (!why.isEmpty()) err(QStringLiteral("kalvenor-cli : ") + why);
        std::fputs(Usage_Text, stderr);
        return int(Usage);
    };
    QString port, trace;
    int phase = 0;
    bool json = false;
    while (!args.isEmpty() && args.first().startsWith(QLatin1String("--"))) {
        const QString opt = args.takeFirst();
        if (opt == QLatin1String("--json")) {
            json = true;
        } else if (opt == QLatin1String("--help")) {
            std::fputs(Usage_Text, stdout);
            return Done;
        } else if (opt == QLatin1String("--port") || opt == QLatin1String("--phase") ||
                   opt == QLatin1String("--trace")) {
            if (args.isEmpty()) return usage(opt + QString::fromUtf8(" attend une valeur"));
            const QString v = args.takeFirst();
            if (opt == QLatin1String("--port")) port = v;
            if (opt == QLatin1String("--trace")) trace = v;
            if (opt == QLatin1String("--phase")) {
                phase = v == QLatin1String("1") ? 1 : v == QLatin1String("2") ? 2 : -1;
                if (phase < 0) return usage(QString::fromUtf8("--phase attend 1 ou 2"));
            }
        } else {
            return usage(QString::fromUtf8("option inconnue : ") + opt);
        }
    }
    const QString command = args.value(0);
    int address = -1;
    QString report_kind, report_file;
    if (command == QLatin1String("read")) {
        bool number = false;
        address = args.value(1) == QLatin1String("all") ? 0 : args.value(1).toInt(&number);
        if (args.size() != 2 || (address != 0 && (!number || address < 1 || address > 128)))
            return usage(QString::fromUtf8("read attend un numéro de 1 à 128, ou all"));
    } else if (command == QLatin1String("report")) {
        report_kind = args.value(1);
        report_file = args.value(2);
        if (args.size() != 3 || !QStringList{"--csv", "--json", "--pdf"}.contains(report_kind))
            return usage(QString::fromUtf8("report attend --csv, --json ou --pdf et un fichier"));
    } else if (!QStringList{"probe", "search", "watch"}.contains(command) || args.size() != 1) {
        return usage(command.isEmpty() ? QString::fromUtf8("commande manquante")
                                       : QString::fromUtf8("commande inconnue : ") + command);
    }

    Cli cli(json);
    Tool& t = cli.tool();
    if (!port.isEmpty() && !parse_port(port, &t.port_for_run.number, &t.port_for_run.path))
        return usage(QString::fromUtf8("--port attend COM1 à COM16 ou un chemin"));
    if (QString why; !trace.isEmpty() && !start_trace(t, trace, &why))
        return usage(QStringLiteral("--trace : ") + why);
    // Between two exchanges: the one under way ends, the port closes with the tool.
    Quit_Signals signals_heard([&t] { t.state.Quit_Flag = true; });

    const int opened = cli.open(phase);
    if (opened != Done) return opened;
    if (command == QLatin1String("probe")) {
        const QJsonObject r = cli.probe_result();
        cli.print(r, {QStringLiteral("version %1").arg(r.value("version").toString()),
                      QStringLiteral("court-circuit %1")
                          .arg(r.value("short_circuit").toBool() ? "oui" : "non")});
        return Done;
    }
    if (command == QLatin1String("watch")) {
        if (t.state.Adr_Count == 0 && !cli.search()) return Done;
        QObject::connect(
            &t.record, &Loop_Record::logged, &t.record, [&cli](const record::Event& e) {
                const QString when = e.at.toString(Qt::ISODate);
                cli.print(
                    {{"at", when}, {"address", e.address}, {"event", e.text}},
                    {QStringLiteral("%1 %2 %3").arg(when).arg(Three_Digits(e.address)).arg(e.text)},
                    true);
            });
        Adr_Status_Cde_Click(t);
        cli.run_until([] { return false; }, -1); // until a signal
        t.state.Quit_Flag = false;
        Adr_Status_Cde_Click(t); // the run ends as its stop button ends it
        cli.run_until([&t] { return !t.state.Simulation_Active; }, 5000);
        return Done;
    }
    if (command == QLatin1String("search")) {
        if (!cli.search()) return Interrupted;
        const QJsonArray found = cli.detectors();
        QStringList lines;
        for (const QJsonValue& d : found)
            lines << detector_line(d.toObject());
        cli.print({{"found", t.state.Adr_Count}, {"detectors", found}}, lines);
        return Done;
    }
    if (!cli.read(command == QLatin1String("read") ? address : 0)) return Interrupted;
    if (command == QLatin1String("read")) {
        const QJsonArray read = cli.detectors(address);
        QStringList lines;
        for (const QJsonValue& d : read)
            lines << detector_line(d.toObject());
        cli.print({{"detectors", read}}, lines);
        return Done;
    }
    const Report_Header header{QString(),
                               QString(),
                               QString(),
                               QDateTime::currentDateTime(),
                               interface_version(t),
                               QStringLiteral("COM%1").arg(t.state.Com_Port)};
    const Report_Rows rows = report_rows(t.record, t.planned);
    const QByteArray content = report_kind == QLatin1String("--csv") ? report_csv(rows)
                               : report_kind == QLatin1String("--json")
                                   ? report_json(header, t.record, t.planned)
                                   : report_pdf(header, rows, report_totals(t.record, t.planned));
    if (!write_file(report_file, content)) {
        err(QString::fromUtf8("%1 ne peut pas être écrit.").arg(report_file));
        return File_Error;
    }
    cli.print({{"report", report_file}, {"detectors", int(rows.size())}},
              {QString::fromUtf8("Rapport écrit : %1").arg(report_file)});
    return Done;
}
