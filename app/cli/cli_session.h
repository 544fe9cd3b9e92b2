#pragma once
#include "app/cli/cli_options.h"
#include "app/report.h"
#include "app/site_recorder.h"
#include "model/dialogs.h"
#include "model/tool.h"

#include <QJsonArray>
#include <QJsonObject>
#include <functional>

// The tool's engine without a window: it plays the user's clicks and waits for what the record
// learns, so the bytes and pauses on the line are the window's. Each step returns how the
// command ends from there (Exit_Done to go on).
// Keeps a template argument from being deduced from a parameter that only follows it.
template <typename T> struct Non_Deduced { using Type = T; };

class Cli_Session {
  public:
    explicit Cli_Session(bool json);
    Tool& tool() { return t_; }

    // From now on, what the record learns goes into the site file at `path` (made when nothing
    // is there), as a visit of `loop` by `engineer`. Exit_File with the reason said when not.
    int record_into(const QString& path, const QString& loop, const QString& engineer);
    // The visits the site file holds, printed; no port is opened.
    int list_visits(const QString& path);
    // Visit `visit` of the site file taken as the record, and the report's header for it.
    int restore_visit(const QString& path, qint64 visit, Report_Header* header);
    // The report's header as this run stands: the site file's names where one is recorded
    // into, unless given.
    Report_Header header(const QString& site, const QString& loop, const QString& engineer) const;
    // What changed between visit `visit` (0: the last) and the visit of its loop before it.
    // `report`, when given: a JSON report of this tool taken as the visit before.
    int compare_visits(const QString& path, qint64 visit, const QString& report = {});

    // The load sequence, then the first probe at once; Exit_Done once the board answers.
    int open(int phase);
    // A search; cut short, it says where and why.
    int search();
    // The readout of one found detector, or of every one.
    int read(int address);
    // The control-panel simulation, one line per event, until SIGINT or SIGTERM.
    int watch();

    QJsonObject probe_result() const;
    QJsonArray detectors(int only = 0) const;
    // One JSON document per command (watch: one compact document per line), or text lines.
    void print(const QJsonObject& doc, const QStringList& lines, bool one_line = false) const;

  private:
    // Main loop passes until `done`: Exit_Interrupted on a signal, Exit_Port once the port has
    // been closed for 10 s (it is tried again before every step meanwhile), Exit_No_Board past
    // `limit_ms` (-1: none).
    int wait(const std::function<bool()>& done, int limit_ms = -1);
    // Does `act`, then waits (as wait() does) until the record says by `ended` that what it
    // started is over; `ours` picks the signal that concerns it. When `started` says nothing
    // began (a run refused), there is nothing to wait for.
    template <typename... Args>
    int act_and_wait(
        const std::function<void()>& act, void (Loop_Record::*ended)(Args...),
        const std::function<bool(typename Non_Deduced<Args>::Type...)>& ours =
            [](Args...) { return true; },
        const std::function<bool()>& started = [] { return true; }) {
        bool over = false;
        const QMetaObject::Connection c = QObject::connect(
            &t_.record, ended, [&over, &ours](Args... a) { over = over || ours(a...); });
        act();
        const int r = started() ? wait([&over] { return over; }) : Exit_Done;
        QObject::disconnect(c);
        return r;
    }
    // After an operation the board did not hear: the port or the board is at fault.
    int board_lost();

    struct Quiet_Dialogs : Dialogs {
        QVariant msg_box(const QString& prompt, int, const QString&) override;
        QString input_box(const QString&, const QString&, const QString&) override { return {}; }
        void show_about() override {}
    };

    Tool t_;
    Quiet_Dialogs dialogs_;
    bool json_;
    Site_Recorder recorder_{t_.record};

  public:
    // What the run did that the site file keeps besides the loop: a report, a plan.
    Site_Recorder& recorder() { return recorder_; }
};

// A line on standard error.
void cli_say(const QString& text);
