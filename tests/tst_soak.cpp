// The whole tool against a board that injects every kind of fault, driven by a seeded user.
// KAL_SOAK_SEED=<n> (and KAL_SOAK_FRAMES=<n>) replays one run instead of the fixed seeds.
#include "support/soak.h"

#include <QtTest>

class Tst_Soak : public QObject {
    Q_OBJECT

  private slots:
    void survives_random_faults_data();
    void survives_random_faults();
    void runs_went_everywhere();

  private:
    // Over every run, so that rare faults (a short or over-long frame reply) count as well.
    QMap<QString, int> faults_, actions_;
    std::map<int, quint64> state_runs_;
    int recoveries_ = 0;
};

void Tst_Soak::survives_random_faults_data() {
    QTest::addColumn<quint32>("seed");
    QTest::addColumn<int>("frames");
    const QByteArray frames = qgetenv("KAL_SOAK_FRAMES");
    const int wanted = frames.isEmpty() ? 600 : frames.toInt();
    const QByteArray replay = qgetenv("KAL_SOAK_SEED");
    if (!replay.isEmpty()) {
        QTest::newRow(("seed " + replay).constData()) << replay.toUInt() << wanted;
        return;
    }
    QTest::newRow("seed 1") << 1u << wanted;
    QTest::newRow("seed 4242") << 4242u << wanted;
}

void Tst_Soak::survives_random_faults() {
    QFETCH(quint32, seed);
    QFETCH(int, frames);
    Soak_Config config;
    config.seed = seed;
    config.frames = frames;
    // A run takes some 10 s; one that stalls fails well before the suite's own time-out.
    config.time_limit_ms = 60000;
    const Soak_Result r = Run_Soak(config);
    const QByteArray report = r.report().toUtf8();
    qInfo("%s", report.constData());

    for (auto it = r.faults.begin(); it != r.faults.end(); ++it)
        faults_[it.key()] += it.value();
    for (auto it = r.actions.begin(); it != r.actions.end(); ++it)
        actions_[it.key()] += it.value();
    for (const auto& [state, n] : r.state_runs)
        state_runs_[state] += n;
    recoveries_ += r.recoveries_checked;

    // The report names the seed and the first problems with their pass numbers.
    QVERIFY2(r.completed, report.constData());
    QVERIFY2(r.overlaps == 0 && r.max_in_flight == 1, report.constData());
    QVERIFY2(r.state_violations == 0, report.constData());
    QVERIFY2(r.sim_lost == 0, report.constData());
    QVERIFY2(r.recoveries_failed == 0, report.constData());
    QVERIFY2(r.problems == 0, report.constData());
}

// The runs prove something only if, together, they met every fault, ran every step, made every
// kind of click and checked the recovery more than once.
void Tst_Soak::runs_went_everywhere() {
    if (!qEnvironmentVariableIsEmpty("KAL_SOAK_SEED")) QSKIP("one replayed run");
    for (const char* kind : {"silent", "wrong", "delay", "garbage", "extra", "short", "hangup"})
        QVERIFY2(faults_.value(QLatin1String(kind)) > 0, kind);
    for (int state : {1, 2, 3, 4, 5, 6, 7, 8, 9, 16})
        QVERIFY2(state_runs_[state] > 0, qPrintable(QStringLiteral("state %1").arg(state)));
    for (const char* action : {"search", "grid click", "LED on", "LED off", "mode box",
                               "simulation start", "simulation stop"})
        QVERIFY2(actions_.value(QLatin1String(action)) > 0, action);
    QVERIFY(recoveries_ >= 4);
}

QTEST_GUILESS_MAIN(Tst_Soak)
#include "tst_soak.moc"
