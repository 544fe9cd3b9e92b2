#pragma once
#include <QMap>
#include <QString>
#include <QStringList>
#include <functional>
#include <map>

struct Soak_Result;

// A run of the whole tool against the simulated board while the board injects random faults
// and a seeded user clicks through the window. The same seed drives the board's faults and the
// user, so a failing run can be replayed (up to the timing of the line).
struct Soak_Config {
    quint32 seed = 1;
    int frames = 1000;               // stop once the board has answered this many frames
    double fault_probability = 0.02; // per exchange, in the rounds at the full rate
    int clock_divider = 25;          // engine and board clocks this many times faster
    int recovery_steps_allowed = 6;  // task steps from the board answering normally to green
    int time_limit_ms = 0;           // 0: a bound derived from `frames`
    std::function<void(const Soak_Result&)> progress; // about once a second, optional
};

struct Soak_Result {
    quint32 seed = 0;
    bool completed = false; // reached the frames wanted within the time limit
    qint64 elapsed_ms = 0;
    int passes = 0; // main loop passes

    int frames_answered = 0;
    quint64 exchanges = 0;
    int tick_ms = 0;
    // Idle status polls that were answered: how long one exchange takes on this line.
    double idle_poll_mean_ms = 0;
    double idle_poll_max_ms = 0;
    QMap<QString, int> faults; // kind -> injected
    int faults_total() const;

    quint64 overlaps = 0; // exchanges asked for while another was in flight
    int max_in_flight = 0;
    int state_violations = 0; // Task_State outside the states that have a step

    int recoveries_checked = 0;
    int recoveries_failed = 0;
    int worst_recovery_steps = 0;    // steps run from the board's first answer to green and idle
    double worst_recovery_ticks = 0; // the same in time, counted in task ticks

    int sim_requests = 0;   // clicks on the simulation button, start or stop
    int sim_called_off = 0; // starts rightly dropped behind a search asked for just before
    int sim_lost = 0;

    QMap<QString, int> actions;        // user action -> times done
    std::map<int, quint64> state_runs; // task state -> steps run

    int problems = 0;           // every violation above, and anything else that went wrong
    QStringList first_problems; // the first few, each with its pass number

    bool clean() const { return completed && problems == 0; }
    // Several lines: counts, faults, actions and state runs, and the first problems.
    QString report() const;
};

Soak_Result run_soak(const Soak_Config& config);
