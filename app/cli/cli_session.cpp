#include "app/cli/cli_session.h"

#include "addresses/read_all.h"
#include "addresses/search.h"
#include "app/presenter.h"
#include "app/report.h"
#include "app/report_export.h"
#include "app/shell.h"
#include "app/visits.h"
#include "detector/simulation.h"
#include "link/qt_serial_port.h"
#include "model/detector_types.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonDocument>
#include <QTimer>
#include <cstdio>

namespace {

// A port closed this long is taken for gone; it is tried again before every step meanwhile.
constexpr int Port_Lost_Ms = 10000;
// The probe gives up after its retries and declares the board gone well within this.
constexpr int Open_Limit_Ms = 12000;

bool port_open(const Tool& t) {
    return t.link.Comm1() && t.link.Comm1()->PortOpen();
}

} // namespace

void cli_say(const QString& text) {
    std::fprintf(stderr, "%s\n", qPrintable(text));
    std::fflush(stderr);
}

QVariant Cli_Session::Quiet_Dialogs::msg_box(const QString& prompt, int, const QString&) {
    cli_say(prompt);
    return 1;
}

Cli_Session::Cli_Session(bool json) : json_(json) {
    recorder_.follow_board(t_);
    t_.link.set_port(make_qt_serial_port());
    t_.dialogs = &dialogs_;
}

int Cli_Session::wait(const std::function<bool()>& done, int limit_ms) {
    // Wakes the loop now and then, so that a limit is seen even when nothing else happens (the
    // task tick stops with the form once quitting has begun).
    QTimer wake;
    wake.start(200);
    const QDeadlineTimer limit(limit_ms);
    QElapsedTimer closed;
    while (!done()) {
        if (t_.state.Quit_Flag) return Exit_Interrupted;
        if (port_open(t_))
            closed.invalidate();
        else if (!closed.isValid())
            closed.start();
        else if (closed.elapsed() >= Port_Lost_Ms)
            return board_lost();
        if (limit.hasExpired()) return Exit_No_Board;
        main_loop_pass(t_);
    }
    // What ended it may be the program's end itself.
    return t_.state.Quit_Flag ? Exit_Interrupted : Exit_Done;
}

int Cli_Session::board_lost() {
    if (!port_open(t_)) {
        cli_say(QString::fromUtf8("Port perdu : %1 n'est plus joignable (adaptateur débranché ?).")
                    .arg(t_.port_device));
        return Exit_Port;
    }
    cli_say(QString::fromUtf8("La carte d'interface ne répond plus."));
    return Exit_No_Board;
}

int Cli_Session::record_into(const QString& path, const QString& loop, const QString& engineer) {
    const QFileInfo info(path);
    QString why;
    site::Stored_Visit previous;
    if (recorder_.start({path,
                         !info.exists() && !info.isSymLink(),
                         info.completeBaseName(),
                         loop,
                         engineer,
                         {},
                         &previous},
                        &why)) {
        if (previous.visit.id)
            t_.earlier = {previous.visit.started,
                          QString::fromUtf8("visite %1").arg(previous.visit.id), previous.detectors,
                          previous.searched_to};
        if (t_.planned.empty())
            t_.planned.assign(previous.planned);
        else
            recorder_.plan_set(t_.planned);
        return Exit_Done;
    }
    cli_say(why);
    return Exit_File;
}

int Cli_Session::list_visits(const QString& path) {
    QString why;
    const auto file = site::File::open(path, &why);
    if (!file) {
        cli_say(why);
        return Exit_File;
    }
    QJsonArray visits;
    QStringList lines;
    for (const site::Visit& v : file->visits()) {
        visits << QJsonObject{{"visit", v.id},    {"date", v.started.toString(Qt::ISODate)},
                              {"loop", v.loop},   {"engineer", v.engineer},
                              {"found", v.found}, {"read", v.read}};
        lines << QString::fromUtf8("%1  %2  boucle %3  %4  %5 trouvés, %6 lus")
                     .arg(v.id)
                     .arg(v.started.toString(QStringLiteral("dd/MM/yyyy HH:mm")), v.loop,
                          v.engineer.isEmpty() ? QStringLiteral("-") : v.engineer)
                     .arg(v.found)
                     .arg(v.read);
    }
    print({{"site", file->site_name()}, {"visits", visits}},
          QStringList{QStringLiteral("Site : %1").arg(file->site_name())} + lines);
    return Exit_Done;
}

int Cli_Session::restore_visit(const QString& path, qint64 visit, Report_Header* header) {
    QString why;
    const auto file = site::File::open(path, &why);
    site::Stored_Visit v;
    if (file && !file->load_visit(visit, &v))
        why = QString::fromUtf8("%1 : pas de visite %2").arg(path).arg(visit);
    if (!why.isEmpty()) {
        cli_say(why);
        return file ? Exit_Usage : Exit_File;
    }
    t_.record.restore(v.detectors, v.searched_to, file->events(visit));
    t_.planned.assign(v.planned);
    // What the visit did not keep is said as such, not made up.
    *header = {file->site_name(),
               v.visit.loop,
               v.visit.engineer,
               v.visit.started,
               v.visit.board.isEmpty() ? QString::fromUtf8("non enregistrée") : v.visit.board,
               v.visit.port.isEmpty()
                   ? QString::fromUtf8("visite %1").arg(visit)
                   : QString::fromUtf8("%1, visite %2").arg(v.visit.port).arg(visit),
               {},
               {}};
    site::Stored_Visit before;
    if (file->load_visit(file->previous_visit(visit), &before))
        add_visit_changes(*header, {before.visit.started, {}, before.detectors, before.searched_to},
                          t_.record);
    // As the report written on site would end: a readout not complete is said by the status.
    const record::Readout_Counts c = t_.record.readout_counts();
    return c.partial + c.failed + c.unread ? Exit_Partial : Exit_Done;
}

Report_Header Cli_Session::header(const QString& site, const QString& loop,
                                  const QString& engineer) const {
    if (!recorder_.recording()) return report_header(t_, site, loop, engineer);
    return report_header(t_, site.isEmpty() ? recorder_.site_name() : site,
                         loop.isEmpty() ? recorder_.loop() : loop, engineer);
}

int Cli_Session::compare_visits(const QString& path, qint64 visit, const QString& report) {
    QString why;
    const auto file = site::File::open(path, &why);
    if (!file) {
        cli_say(why);
        return Exit_File;
    }
    if (const QList<site::Visit> all = file->visits(); visit == 0 && !all.isEmpty())
        visit = all.last().id;
    site::Stored_Visit now, before;
    if (!file->load_visit(visit, &now)) {
        cli_say(QString::fromUtf8("%1 : pas de visite %2").arg(path).arg(visit));
        return Exit_Usage;
    }
    if (!report.isEmpty()) {
        // A report this tool wrote elsewhere stands for the visit before.
        Earlier_Visit earlier;
        if (!read_report_visit_file(report, &earlier, &why)) {
            cli_say(QString::fromUtf8("%1 n'est pas pris : %2").arg(report, why));
            return Exit_Usage;
        }
        before.visit.started = earlier.when;
        before.detectors = earlier.detectors;
    } else if (!file->load_visit(file->previous_visit(visit), &before)) {
        cli_say(QString::fromUtf8("Aucune visite de la boucle %1 avant la visite %2 : rien à "
                                  "comparer.")
                    .arg(now.visit.loop)
                    .arg(visit));
        return Exit_Nobody;
    }
    QJsonArray changes;
    const QString against =
        report.isEmpty() ? QString::fromUtf8("à la visite %1").arg(before.visit.id)
                         : QString::fromUtf8("au rapport %1").arg(QFileInfo(report).fileName());
    QStringList lines{QString::fromUtf8("Boucle %1 : visite %2 du %3 comparée %4 du %5")
                          .arg(now.visit.loop)
                          .arg(visit)
                          .arg(now.visit.started.toString(QStringLiteral("dd/MM/yyyy")), against,
                               before.visit.started.toString(QStringLiteral("dd/MM/yyyy")))};
    for (const Visit_Difference& d :
         all_visit_differences(before.detectors, now.detectors, now.searched_to)) {
        const QString change = visit_change_text(d.change);
        changes << QJsonObject{{"address", d.address}, {"change", change}, {"detail", d.detail}};
        lines << QStringLiteral("%1 %2%3").arg(three_digits(d.address), change,
                                               d.detail.isEmpty() ? QString() : " : " + d.detail);
    }
    if (changes.isEmpty()) lines << QString::fromUtf8("Aucun changement.");
    QJsonObject doc{{"visit", visit}, {"changes", changes}};
    doc.insert(report.isEmpty() ? "before" : "report",
               report.isEmpty() ? QJsonValue(before.visit.id) : QJsonValue(report));
    print(doc, lines);
    return Exit_Done;
}

int Cli_Session::open(int phase) {
    Form_Load(t_);
    if (phase) {
        t_.state.Phase_Number = uint8_t(phase);
        t_.state.Phase_Code = phase_code(phase);
    }
    if (t_.state.Quit_Flag) return Exit_Interrupted;
    if (!port_open(t_)) return Exit_Port;
    // Nobody watches a window appear: the first probe goes at once, not at the first tick.
    t_.state.Task_Tick = true;
    const int r = wait(
        [this] {
            return t_.state.Connected && t_.state.Task_State == Task::Idle_Status &&
                   t_.link.bus_free();
        },
        Open_Limit_Ms);
    if (r == Exit_No_Board) cli_say(QString::fromUtf8("Aucune carte d'interface ne répond."));
    return r;
}

int Cli_Session::search() {
    cli_say(QStringLiteral("Recherche des adresses..."));
    const int r = act_and_wait([this] { Start_Bus_Cmd_Click(t_); }, &Loop_Record::search_finished);
    if (r != Exit_Done || t_.record.search_stop().isEmpty()) return r;
    // Cut short, or never begun (the re-arm): where and why, and nothing is taken for the loop.
    cli_say(QString::fromUtf8("%1 (%2 trouvés avant).")
                .arg(t_.record.search_stop())
                .arg(t_.record.found().size()));
    return port_open(t_) ? Exit_Search : board_lost();
}

int Cli_Session::read(int address) {
    if (t_.record.searched_to() == 0) {
        if (const int r = search(); r != Exit_Done) return r;
    }
    if (address == 0) {
        cli_say(QString::fromUtf8("Lecture de tous les détecteurs..."));
        const int r = act_and_wait([this] { Read_All_Mnu_Click(t_); }, &Loop_Record::run_finished,
                                   [] { return true; }, [this] { return t_.read_all.running(); });
        if (r != Exit_Done) return r;
        const Read_All_Run& run = t_.read_all;
        if (t_.record.board_silent()) return board_lost();
        // The journal's numbers, whatever the outcome.
        cli_say(QString::fromUtf8("Lecture %1 : %2.")
                    .arg(run.read().complete == run.total() ? QString::fromUtf8("terminée")
                                                            : QString::fromUtf8("incomplète"),
                         read_all_counts(run)));
        return run.read().complete == run.total() ? Exit_Done : Exit_Partial;
    }
    if (!t_.record.at(address).found) {
        cli_say(QString::fromUtf8("Aucun détecteur ne répond à l'adresse %1 : la recherche en a "
                                  "trouvé %2.")
                    .arg(three_digits(address))
                    .arg(t_.record.found().size()));
        return Exit_Nobody;
    }
    const int r = act_and_wait([this, address] { t_.form.Adr_Box(address).click(); },
                               &Loop_Record::readout_finished,
                               [address](int read) { return read == address; });
    if (r != Exit_Done) return r;
    if (t_.record.board_silent()) return board_lost();
    const record::Readout result = t_.record.at(address).readout;
    if (result == record::Readout::Complete) return Exit_Done;
    cli_say(QString::fromUtf8("Lecture de %1 %2.")
                .arg(three_digits(address), result == record::Readout::None
                                                ? QString::fromUtf8("impossible : type sans "
                                                                    "lecture connue")
                                                : record::readout_text(result)));
    return Exit_Partial;
}

int Cli_Session::watch() {
    if (t_.record.searched_to() == 0) {
        if (const int r = search(); r != Exit_Done) return r;
    }
    if (t_.state.Adr_Count == 0) {
        cli_say(QString::fromUtf8("Aucun détecteur trouvé : rien à surveiller."));
        return Exit_Nobody;
    }
    QObject::connect(&t_.record, &Loop_Record::logged, &t_.record, [this](const record::Event& e) {
        const QString when = e.at.toString(Qt::ISODate);
        print({{"at", when}, {"address", e.address}, {"event", e.text}},
              {QStringLiteral("%1 %2 %3").arg(when, three_digits(e.address), e.text)}, true);
    });
    Adr_Status_Cde_Click(t_);
    const int r = wait([] { return false; });
    if (r != Exit_Interrupted) return r;
    // The run ends as its stop button ends it, at once and without a byte: the step under way
    // has already given up on its reply.
    t_.simulation.stop_now();
    return Exit_Done;
}

QJsonObject Cli_Session::probe_result() const {
    return {{"version", interface_version(t_.board)}, {"short_circuit", t_.board.short_circuit()}};
}

QJsonArray Cli_Session::detectors(int only) const {
    QJsonArray out;
    for (const QJsonValue& d : report_detectors(t_.record, t_.planned))
        if (only == 0 || d.toObject().value("address").toInt() == only) out << d;
    return out;
}

void Cli_Session::print(const QJsonObject& doc, const QStringList& lines, bool one_line) const {
    const QByteArray text = json_ ? QJsonDocument(doc).toJson(one_line ? QJsonDocument::Compact
                                                                       : QJsonDocument::Indented) +
                                        (one_line ? "\n" : "")
                                  : lines.join('\n').toUtf8() + '\n';
    std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
    std::fflush(stdout);
}
