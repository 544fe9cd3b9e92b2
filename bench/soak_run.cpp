#include "soak_run.h"

#include "app/bus_task.h"
#include "app/menus.h"
#include "engine/tempo.h"
#include "model/tool.h"
#include "support/harness.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QVariant>
#include <algorithm>
#include <cmath>
#include <random>

namespace {

const QString Idle_Caption = QStringLiteral("ETAT DES ADRESSES (F9)");
const QString Stop_Caption = QStringLiteral("ARRÊT SIMULATION");
const QString Connected_Caption = QStringLiteral("Connecté ");
const QString Mode_Box_Title = QStringLiteral("Sélection Capteur");
constexpr Bgr_Colour Green = RGB(0, 255, 0);

// The board holds a randomly delayed answer back this long (at full speed): until then an
// answer to an exchange from before the calm can still turn up.
constexpr int Board_Delay_Ms = 2200;
constexpr int Problems_Kept = 8;

bool has_step(int state) {
    return (state >= Task::Probe_Interface && state <= Task::Idle_Status) ||
           state == Task::Mode_Write;
}

class Soak {
  public:
    explicit Soak(const Soak_Config& config)
        : cfg_(config), t_(h_.t), user_rng_(config.seed ^ 0x9E3779B9u) {
        r_.seed = config.seed;
    }

  private:
    // Where a simulation click stands until its outcome has been seen.
    struct Sim_Check {
        bool pending = false, start = false, expect_called_off = false;
        int pass = 0;
    };

    double now_ms() const { return clock_.nsecsElapsed() / 1e6; }
    int tick_ms() const { return ::tick_ms(t_); }
    int uniform(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(user_rng_); }
    bool coin() { return uniform(0, 1) == 1; }

    void problem(const QString& what) {
        ++r_.problems;
        if (r_.first_problems.size() < Problems_Kept)
            r_.first_problems.append(QStringLiteral("pass %1: %2").arg(pass_).arg(what));
    }

    // The rounds between calms take turns at three kinds. At the full rate a search of the loop
    // (some 170 exchanges) almost never gets through, and without found types there is no readout
    // to run and no mode to write: light rounds let it. Only frame replies can come short or
    // over-long, a quarter of the exchanges or fewer: reply rounds inject those two alone, five
    // times as often, so that a short run meets them too.
    void faults_on() {
        const quint32 seed = cfg_.seed + 7919u * ++fault_round_;
        const double p = cfg_.fault_probability;
        const int kind = (cfg_.seed + fault_round_) % 3;
        if (kind == 2)
            h_.board.set_random_faults(seed, std::min(1.0, 5 * p),
                                       {QStringLiteral("extra"), QStringLiteral("short")});
        else
            h_.board.set_random_faults(seed, kind == 0 ? p : p / 10);
    }
    // Switching off clears the board's counts: they are kept here first.
    void faults_off() {
        const QMap<QString, int> injected = h_.board.faults_injected();
        for (auto it = injected.begin(); it != injected.end(); ++it)
            r_.faults[it.key()] += it.value();
        h_.board.set_random_faults(0, 0);
        delays_seen_ = 0;
    }
    // A delayed answer goes out long after the exchange it belongs to: the calm waits for it.
    void note_delays() {
        const int n = h_.board.faults_injected().value(QStringLiteral("delay"));
        if (n != delays_seen_) last_delay_ms_ = now_ms();
        delays_seen_ = n;
    }

    void check(const char* where) {
        const Line::Link_Counters& link = t_.link.link_count();
        if (link.overlaps != overlaps_seen_) {
            problem(QStringLiteral("%1 exchange(s) asked for while another was in flight (%2)")
                        .arg(link.overlaps - overlaps_seen_)
                        .arg(QLatin1String(where)));
            overlaps_seen_ = link.overlaps;
        }
        if (link.in_flight > 1)
            problem(QStringLiteral("%1 exchanges in flight").arg(link.in_flight));
        const int s = t_.state.Task_State;
        if (!has_step(s) && !(s == Task::Quit && t_.state.Quit_Flag)) {
            ++r_.state_violations;
            problem(QStringLiteral("Task_State %1 %2").arg(s).arg(QLatin1String(where)));
        }
    }

    // The main loop's pass, as main_loop_pass runs it, with the state of each step counted.
    void pass() {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        if (t_.state.Task_Tick && !t_.state.Quit_Flag) {
            t_.state.Task_Tick = false;
            const int state = t_.state.Task_State;
            ++r_.state_runs[state];
            ++steps_;
            const double begun = now_ms();
            Bus_Task(t_);
            if (state == Task::Idle_Status && t_.state.Task_State == Task::Idle_Status) {
                const double took = now_ms() - begun;
                ++idle_polls_;
                idle_poll_total_ms_ += took;
                r_.idle_poll_max_ms = std::max(r_.idle_poll_max_ms, took);
            }
            if (state == Task::Simulation_Stop && sim_.pending && !sim_.start)
                sim_outcome(!t_.state.Grid_Locked && !t_.state.Simulation_Active &&
                                t_.form.Adr_Status_Cde.Caption() == Idle_Caption,
                            "left it running");
        }
        after_pass();
    }

    // Ends the pending simulation click, counting it lost unless `kept`.
    void sim_outcome(bool kept, const char* what) {
        sim_.pending = false;
        if (kept) return;
        ++r_.sim_lost;
        problem(QStringLiteral("the simulation %1 clicked at pass %2 %3 (state %4, active %5, "
                               "caption \"%6\")")
                    .arg(QLatin1String(sim_.start ? "start" : "stop"))
                    .arg(sim_.pass)
                    .arg(QLatin1String(what))
                    .arg(t_.state.Task_State)
                    .arg(bool(t_.state.Simulation_Active))
                    .arg(t_.form.Adr_Status_Cde.Caption()));
    }

    void after_pass() {
        ++pass_;
        check("after a pass");
        note_delays();
        // Between passes no step runs, so every request made during the last one has run.
        search_queued_ = false;
        if (!sim_.pending) return;
        const Program_State& state = t_.state;
        const bool idle =
            !state.Simulation_Active && t_.form.Adr_Status_Cde.Caption() == Idle_Caption;
        if (!sim_.start) {
            // Its step comes on the next tick.
            if (state.Task_State != Task::Simulation_Stop) sim_outcome(false, "never ran state 8");
        } else if (sim_.expect_called_off) {
            ++r_.sim_called_off;
            sim_outcome(idle, "behind a search ran");
        } else {
            sim_outcome(state.Simulation_Active && state.Grid_Locked &&
                            t_.form.Adr_Status_Cde.Caption() == Stop_Caption &&
                            (state.Task_State == Task::Simulation_Poll ||
                             state.Task_State == Task::Led_Command),
                        "was lost");
        }
    }

    void click_sim(bool by_key) {
        const bool start = t_.form.Adr_Status_Cde.Caption() == Idle_Caption;
        ++r_.sim_requests;
        ++r_.actions[QLatin1String(start ? "simulation start" : "simulation stop")];
        sim_ = {true, start, start && search_queued_, pass_};
        by_key ? Form_KeyDown(t_, Key_F9, 0) : t_.form.Adr_Status_Cde.click();
    }

    int pick(std::initializer_list<double> weights) {
        return std::discrete_distribution<int>(weights)(user_rng_);
    }

    void schedule_user(int min_ms, int max_ms) { user_timer_.start(uniform(min_ms, max_ms)); }

    // Mostly quick clicks, some of them during a step's waits; now and then a longer look.
    void schedule_user() {
        static const int ticks[][2] = {{0, 1}, {1, 10}, {10, 60}};
        const int* range = ticks[pick({55, 37, 8})];
        schedule_user(range[0] * tick_ms(), range[1] * tick_ms());
    }

    void user_act() {
        if (calm_ || t_.state.Quit_Flag) return;
        // One simulation click at a time, so its outcome is its own.
        if (sim_.pending) return schedule_user(1, tick_ms());
        check("when the user acted");
        if (watch_until_ms_ > 0) {
            if (!t_.form.Led_On_Cde.Visible() && now_ms() < watch_until_ms_)
                return schedule_user(1, tick_ms());
            watch_until_ms_ = 0;
            return schedule_user(0, 10 * tick_ms());
        }

        Bus_Form& form = t_.form;
        const bool panel = form.Status_Frame.Visible();

        enum { Idle, Search, Grid, Led, Mode, Close, Sim };
        const int action = pick({1, form.Start_Bus_Cmd.Visible() ? 0.4 : 0, 3,
                                 panel && form.Led_On_Cde.Visible() ? 2.0 : 0,
                                 panel && form.Opto_Check.Visible() ? 6.0 : 0, panel ? 0.3 : 0,
                                 form.Adr_Status_Cde.Visible() ? 1.0 : 0});
        const bool by_key = coin();
        switch (action) {
        case Idle:
            ++r_.actions[QStringLiteral("idle")];
            return schedule_user(10 * tick_ms(), 60 * tick_ms());
        case Search:
            ++r_.actions[QStringLiteral("search")];
            if (t_.link.steps_holding() > 0) search_queued_ = true;
            by_key ? Form_KeyDown(t_, Key_F5, 0) : form.Start_Bus_Cmd.click();
            break;
        case Grid: {
            ++r_.actions[QStringLiteral("grid click")];
            // Mostly a detector whose type the grid shows, often one whose detection mode can be
            // set (type index 3), sometimes any found cell or any cell at all.
            QList<int> typed, with_mode;
            for (int n = 1; n <= t_.state.Adr_Count && n <= 128; ++n) {
                if (t_.state.Adr_Type[n - 1] != 0) typed.append(n);
                if (t_.state.Adr_Type[n - 1] == 3) with_mode.append(n);
            }
            const auto any_of = [this](const QList<int>& c) {
                return c.at(uniform(0, c.size() - 1));
            };
            int n = uniform(1, 128);
            const int kind = pick({typed.isEmpty() ? 0.0 : 4, with_mode.isEmpty() ? 0.0 : 3, 2, 1});
            if (kind < 2)
                n = any_of(kind == 0 ? typed : with_mode);
            else if (kind == 2)
                n = uniform(1, std::max<int>(t_.state.Adr_Count, 1));
            const bool taken = !t_.state.Grid_Locked;
            form.Adr_Box(n).click();
            // Most of the time the user watches the panel fill in (the LED buttons come back at the
            // end of the readout) before doing anything else.
            if (taken && pick({3, 1}) == 0) {
                watch_until_ms_ = now_ms() + 150.0 * tick_ms();
                return schedule_user(tick_ms(), 2 * tick_ms());
            }
            break;
        }
        case Led: {
            const bool on = coin();
            ++r_.actions[QLatin1String(on ? "LED on" : "LED off")];
            (on ? form.Led_On_Cde : form.Led_Off_Cde).click();
            break;
        }
        case Mode: {
            ++r_.actions[QStringLiteral("mode box")];
            Control& box = coin() ? form.Opto_Check : form.Thermo_Check;
            box.set_value(box.Value() ? 0 : 1);
            // A later click before the next tick would replace the write, as a newer request does.
            return schedule_user(2 * tick_ms(), 10 * tick_ms());
        }
        case Close:
            ++r_.actions[QStringLiteral("panel closed")];
            form.Close_Cmd.click();
            break;
        case Sim:
            click_sim(by_key);
            break;
        }
        schedule_user();
    }

    bool operation_ended() const {
        const int s = t_.state.Task_State;
        return !sim_.pending && !t_.state.Simulation_Active && t_.form.Start_Bus_Cmd.Visible() &&
               (s == Task::Probe_Interface || s == Task::Read_Version || s == Task::Idle_Status);
    }

    bool recovered() const {
        const Bus_Form& form = t_.form;
        return t_.state.Task_State == Task::Idle_Status && t_.state.Connected &&
               form.Emul_Frm.BackColor() == Green &&
               form.Connection_Lbl.Caption() == Connected_Caption && form.Version_Lbl.Visible();
    }

    // With every operation ended, whatever an operation locks or hides while it runs must be back.
    QString stuck_control() const {
        const Bus_Form& form = t_.form;
        if (t_.state.Grid_Locked) return QStringLiteral("the grid is locked");
        if (t_.state.Simulation_Active) return QStringLiteral("the simulation is marked running");
        if (form.Adr_Status_Cde.Caption() != Idle_Caption)
            return QStringLiteral("the simulation button says \"%1\"")
                .arg(form.Adr_Status_Cde.Caption());
        if (form.Lgd_Lbl(0).Visible()) return QStringLiteral("the legend is shown");
        if (t_.screen.MousePointer() != Screen_Pointer::Default)
            return QStringLiteral("the pointer is an hourglass");
        return {};
    }

    // Faults off, the operation in hand brought to its end, then the time from the board answering
    // normally again (back from a hang-up, its delayed answers out) to a green, idle panel.
    void calm_phase() {
        calm_ = true;
        user_timer_.stop();
        watch_until_ms_ = 0;
        faults_off();
        ++r_.recoveries_checked;

        const double start = now_ms();
        const double delay_ms = std::ceil(double(Board_Delay_Ms) / cfg_.clock_divider) + 1;
        // A search of the whole loop, or a readout whose every frame times out, fits in this.
        const double end_limit = start + 600.0 * tick_ms() + 40.0 * clock_ms(t_, 2000);
        double ended = -1, back = -1;
        while (now_ms() < end_limit) {
            if (back < 0 && !h_.board.hung_up()) back = now_ms();
            if (!sim_.pending && t_.state.Simulation_Active && t_.form.Adr_Status_Cde.Visible() &&
                t_.form.Adr_Status_Cde.Caption() == Stop_Caption)
                click_sim(false);
            if (ended < 0 && operation_ended()) ended = now_ms();
            const bool flushed = now_ms() >= last_delay_ms_ + delay_ms;
            if (ended >= 0 && back >= 0 && flushed) break;
            pass();
        }
        const auto failed = [this](const QString& what) {
            ++r_.recoveries_failed;
            problem(QStringLiteral("calm phase: ") + what);
        };
        if (ended < 0 || back < 0) {
            failed(QStringLiteral("%1 after %2 ms (state %3)")
                       .arg(back < 0 ? QStringLiteral("the board stayed hung up")
                                     : QStringLiteral("the operation in hand never ended"))
                       .arg(now_ms() - start, 0, 'f', 0)
                       .arg(t_.state.Task_State));
        } else {
            // An exchange the board dropped before the calm may still be waiting out its time-out:
            // the count starts with the first byte the board gets, and answers, after this point.
            const double limit = now_ms() + 100.0 * tick_ms() + 2.0 * clock_ms(t_, 2000);
            first_byte_ms_ = -1;
            watching_bytes_ = true;
            while (!recovered() && now_ms() < limit)
                pass();
            watching_bytes_ = false;
            // Judged on the steps run, which a stall of the whole process does not stretch; the
            // time, in ticks, is only measured.
            const bool spoke = first_byte_ms_ >= 0;
            const double ticks = spoke ? std::max(0.0, now_ms() - first_byte_ms_) / tick_ms() : 0;
            const int steps = spoke ? int(steps_ - first_byte_step_ + 1) : 0;
            r_.worst_recovery_ticks = std::max(r_.worst_recovery_ticks, ticks);
            r_.worst_recovery_steps = std::max(r_.worst_recovery_steps, steps);
            if (!recovered() || steps > cfg_.recovery_steps_allowed)
                failed(QStringLiteral("%1 after %2 steps (state %3, \"%4\")")
                           .arg(recovered() ? QStringLiteral("green and idle only")
                                            : QStringLiteral("still not green and idle"))
                           .arg(steps)
                           .arg(t_.state.Task_State)
                           .arg(t_.form.Connection_Lbl.Caption()));
            if (const QString stuck = stuck_control(); !stuck.isEmpty())
                failed(QStringLiteral("green and idle, but ") + stuck);
        }

        faults_on();
        calm_ = false;
        schedule_user();
    }

    void fill_counts() {
        r_.passes = pass_;
        r_.elapsed_ms = clock_.elapsed();
        r_.frames_answered = h_.board.frames_answered();
        r_.exchanges = t_.link.link_count().exchanges;
        r_.overlaps = t_.link.link_count().overlaps;
        r_.max_in_flight = t_.link.link_count().max_in_flight;
        r_.idle_poll_mean_ms = idle_polls_ ? idle_poll_total_ms_ / double(idle_polls_) : 0;
        r_.tick_ms = tick_ms();
    }

  public:
    Soak_Result run() {
        clock_.start();
        set_clock_divider(t_, cfg_.clock_divider);
        h_.board.set_clock_divider(cfg_.clock_divider);
        h_.load();
        // Wakes a blocking pass now and then, so the deadlines are seen even with the tick off.
        wake_.start(20);
        if (!h_.run_until([this] { return recovered(); }, 5000)) {
            problem(QStringLiteral("the board did not connect at start"));
            fill_counts();
            return r_;
        }

        // The user's first act is a search of the loop, which the board lets through.
        ++r_.actions[QStringLiteral("search")];
        t_.form.Start_Bus_Cmd.click();
        if (!h_.run_until([this] { return t_.form.Start_Bus_Cmd.Visible() && recovered(); }, 10000))
            problem(QStringLiteral("the first search, without faults, did not end"));

        QObject::connect(&h_.board, &loopsim::Board::byte_received, &context_, [this] {
            check("during an exchange");
            note_delays();
            if (watching_bytes_ && first_byte_ms_ < 0) {
                first_byte_ms_ = now_ms();
                first_byte_step_ = steps_;
            }
        });
        user_timer_.setSingleShot(true);
        user_timer_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&user_timer_, &QTimer::timeout, &context_, [this] { user_act(); });

        const auto next_calm = [this] { return h_.board.frames_answered() + uniform(100, 250); };
        const qint64 limit =
            cfg_.time_limit_ms > 0 ? cfg_.time_limit_ms : 60000 + qint64(cfg_.frames) * 40;
        faults_on();
        schedule_user();
        int calm_at = next_calm();
        qint64 progress_at = 1000;
        while (h_.board.frames_answered() < cfg_.frames) {
            if (clock_.elapsed() > limit) {
                problem(QStringLiteral("only %1 of %2 frames answered in %3 s")
                            .arg(h_.board.frames_answered())
                            .arg(cfg_.frames)
                            .arg(limit / 1000));
                break;
            }
            pass();
            if (h_.board.frames_answered() >= calm_at && !sim_.pending) {
                calm_phase();
                calm_at = next_calm();
            }
            if (cfg_.progress && clock_.elapsed() >= progress_at) {
                progress_at = clock_.elapsed() + 1000;
                fill_counts();
                cfg_.progress(r_);
            }
        }
        r_.completed = h_.board.frames_answered() >= cfg_.frames;
        // The run ends as every calm does: the board well and the tool idle and green.
        calm_phase();
        user_timer_.stop();
        faults_off();

        for (const Test_Dialogs::Message& m : h_.dialogs.messages)
            if (m.title != Mode_Box_Title)
                problem(QStringLiteral("message box \"%1\": %2").arg(m.title, m.prompt));
        fill_counts();
        return r_;
    }

  private:
    const Soak_Config cfg_;
    Harness h_;
    Tool& t_;
    std::mt19937 user_rng_;
    Soak_Result r_;
    QElapsedTimer clock_;
    Sim_Check sim_;
    int pass_ = 0, delays_seen_ = 0;
    quint32 fault_round_ = 0;
    bool calm_ = false, search_queued_ = false, watching_bytes_ = false;
    quint64 overlaps_seen_ = 0, first_byte_step_ = 0, steps_ = 0, idle_polls_ = 0;
    double last_delay_ms_ = -1e9, watch_until_ms_ = 0, first_byte_ms_ = -1;
    double idle_poll_total_ms_ = 0;
    // Declared after the harness, so they go before it.
    QObject context_;
    QTimer user_timer_, wake_;
};

} // namespace

int Soak_Result::faults_total() const {
    int n = 0;
    for (int v : faults)
        n += v;
    return n;
}

QString Soak_Result::report() const {
    QString out = QStringLiteral("soak, seed %1: %2\n")
                      .arg(seed)
                      .arg(clean() ? QStringLiteral("clean")
                                   : QStringLiteral("%1 problem(s)%2")
                                         .arg(problems)
                                         .arg(completed ? "" : ", incomplete"));
    const auto line = [&out](const QString& label, const QVariant& value) {
        out += QStringLiteral("  %1 %2\n").arg(label, -32).arg(value.toString());
    };
    line("elapsed", QStringLiteral("%1 s").arg(elapsed_ms / 1000.0, 0, 'f', 1));
    line("main loop passes", passes);
    line("frames answered", frames_answered);
    line("exchanges", exchanges);
    line("faults injected", faults_total());
    for (auto it = faults.begin(); it != faults.end(); ++it)
        line("  " + it.key(), it.value());
    line("idle poll (one exchange)", QStringLiteral("mean %1 ms, max %2 ms, tick %3 ms")
                                         .arg(idle_poll_mean_ms, 0, 'f', 3)
                                         .arg(idle_poll_max_ms, 0, 'f', 3)
                                         .arg(tick_ms));
    line("interleaved exchanges", overlaps);
    line("most exchanges in flight", max_in_flight);
    line("task state violations", state_violations);
    line("recoveries checked / failed",
         QStringLiteral("%1 / %2").arg(recoveries_checked).arg(recoveries_failed));
    line("worst recovery", QStringLiteral("%1 steps, %2 ticks of time")
                               .arg(worst_recovery_steps)
                               .arg(worst_recovery_ticks, 0, 'f', 1));
    line("simulation requests / lost", QStringLiteral("%1 / %2 (%3 rightly called off)")
                                           .arg(sim_requests)
                                           .arg(sim_lost)
                                           .arg(sim_called_off));
    out += "  user actions:\n";
    for (auto it = actions.begin(); it != actions.end(); ++it)
        line("  " + it.key(), it.value());
    out += "  steps run per task state:\n";
    for (const auto& [state, n] : state_runs)
        line(QStringLiteral("  state %1").arg(state), n);
    for (const QString& p : first_problems)
        out += "  ! " + p + '\n';
    return out;
}

Soak_Result run_soak(const Soak_Config& config) {
    return Soak(config).run();
}
