// The long fault-injection soak: the tool against a board that injects every kind of fault,
// driven by a seeded user, until the board has answered the frames asked for.
//   bench_soak [--seed N] [--frames N] [--divider N] [--probability P]
// Prints a table, then one FIGURE line per figure for bench/run. Exits 1 when an invariant broke.
#include "soak_run.h"

#include <QCoreApplication>
#include <QStringList>
#include <cstdio>
#include <cstring>

namespace {

void figure(const char* label, const QString& value, const char* unit, const char* goal) {
    std::printf("FIGURE\t%s\t%s\t%s\t-\t-\t%s\n", label, qPrintable(value), unit, goal);
}

void figure(const char* label, double value, const char* unit, const char* goal) {
    figure(label, QString::number(value, 'f', value == qint64(value) ? 0 : 2), unit, goal);
}

int usage() {
    std::fprintf(stderr,
                 "usage: bench_soak [--seed N] [--frames N] [--divider N] [--probability P]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    Soak_Config config;
    config.seed = 20261206;
    config.frames = 10000;
    for (int i = 1; i < argc; ++i) {
        if (i + 1 >= argc) return usage();
        const QString value = QString::fromLocal8Bit(argv[i + 1]);
        bool ok = false;
        if (!std::strcmp(argv[i], "--seed"))
            config.seed = value.toUInt(&ok);
        else if (!std::strcmp(argv[i], "--frames"))
            ok = (config.frames = value.toInt(&ok)) > 0 && ok;
        else if (!std::strcmp(argv[i], "--divider"))
            ok = (config.clock_divider = value.toInt(&ok)) > 0 && ok;
        else if (!std::strcmp(argv[i], "--probability"))
            config.fault_probability = value.toDouble(&ok);
        if (!ok) return usage();
        ++i;
    }
    // Long enough for any seed at the default rate, even on a loaded machine.
    config.time_limit_ms = 120000 + config.frames * 60;
    config.progress = [](const Soak_Result& r) {
        if (r.elapsed_ms / 1000 % 10 == 0)
            std::fprintf(stderr, "  %5.0f s: %d frames, %d faults, %d problem(s)\n",
                         r.elapsed_ms / 1000.0, r.frames_answered, r.faults_total(), r.problems);
    };
    std::printf("soak: seed %u, %d frames wanted, fault probability %.3f per exchange, clock x%d\n",
                config.seed, config.frames, config.fault_probability, config.clock_divider);
    std::fflush(stdout);

    const Soak_Result r = run_soak(config);
    std::printf("%s", qPrintable(r.report()));

    const QByteArray frames_goal = ">= " + QByteArray::number(config.frames);
    figure("soak seed", double(r.seed), "-", "-");
    figure("soak frames answered", r.frames_answered, "frames", frames_goal.constData());
    figure("soak exchanges", double(r.exchanges), "exchanges", "-");
    figure("soak faults injected", r.faults_total(), "faults", "> 0");
    for (const char* kind : {"silent", "wrong", "delay", "garbage", "extra", "short", "hangup"}) {
        const QByteArray label = QByteArray("soak faults injected: ") + kind;
        figure(label.constData(), r.faults.value(QLatin1String(kind)), "faults", "> 0");
    }
    figure("soak crashes", 0, "crashes", "= 0"); // a crash never gets here
    figure("soak interleaved exchanges", double(r.overlaps), "exchanges", "= 0");
    figure("soak most exchanges in flight", r.max_in_flight, "exchanges", "<= 1");
    figure("soak task state violations", r.state_violations, "violations", "= 0");
    figure("soak simulation requests", r.sim_requests, "clicks", "-");
    figure("soak lost simulation requests", r.sim_lost, "clicks", "= 0");
    figure("soak recoveries checked", r.recoveries_checked, "recoveries", "> 0");
    figure("soak failed recoveries", r.recoveries_failed, "recoveries", "= 0");
    const QByteArray steps_goal = "<= " + QByteArray::number(config.recovery_steps_allowed);
    figure("soak worst recovery", r.worst_recovery_steps, "steps", steps_goal.constData());
    figure("soak worst recovery time", r.worst_recovery_ticks, "ticks", steps_goal.constData());
    figure("soak problems", r.problems, "problems", "= 0");
    figure("soak elapsed", r.elapsed_ms / 1000.0, "s", "-");
    // How far one exchange on this line is from the tick it has to fit in.
    std::printf("FIGURE\tsoak idle poll exchange\t%.3f\tms\t%d\t%.4f\t< 0.5\n", r.idle_poll_mean_ms,
                r.tick_ms, r.tick_ms ? r.idle_poll_mean_ms / r.tick_ms : 0.0);
    // A run proves something only if it met every fault, ran every step and made every kind of
    // click, and checked the recovery more than once.
    QStringList missed;
    for (const char* kind : {"silent", "wrong", "delay", "garbage", "extra", "short", "hangup"})
        if (r.faults.value(QLatin1String(kind)) == 0) missed << QStringLiteral("fault ") + kind;
    for (int state : {1, 2, 3, 4, 5, 6, 7, 8, 9, 16}) {
        const auto it = r.state_runs.find(state);
        if (it == r.state_runs.end() || it->second == 0)
            missed << QStringLiteral("state %1").arg(state);
    }
    for (const char* action : {"search", "grid click", "LED on", "LED off", "mode box",
                               "simulation start", "simulation stop"})
        if (r.actions.value(QLatin1String(action)) == 0) missed << action;
    if (r.recoveries_checked < 4) missed << QStringLiteral("recoveries (fewer than 4)");
    figure("soak coverage missed", missed.size(), "items", "= 0");
    if (!missed.isEmpty()) std::printf("not reached: %s\n", qPrintable(missed.join(", ")));
    return r.clean() && missed.isEmpty() ? 0 : 1;
}
