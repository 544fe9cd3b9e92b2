// A site file as it stands after years of visits: 20 visits of a loop of 128 detectors, each
// with its identity and parameters, and 100,000 lines of journal. It is built first (not timed),
// then timed as the tool uses it:
//   - opening it: site::File::open (its checks included), the list of visits, and the last visit
//     loaded with its journal, which is what the window and kalvenor-cli do before they show it;
//     goal under 200 ms;
//   - comparing two visits: the visit before the last found, both loaded, and each of the 128
//     addresses compared (with the detail of what changed); goal under 100 ms.
// Each is the median of several runs; the first run is shown apart as well.
//   bench_site [runs] [visits]     (default 9 runs, 20 visits; the 100,000 events shared among
//                                   the visits, to see how the times grow with them)
#include "app/site_file.h"
#include "bench/figure.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

int visit_count = 20; // set from the command line
constexpr int Detectors = 128;
constexpr int Events = 100000;

// Visit `v`'s detector at `a`: a few were replaced or changed settings from one visit to the
// next, so that the comparison has something to say.
record::Detector detector(int v, int a, const QDateTime& when) {
    record::Detector d;
    d.found = true;
    d.found_at = when;
    d.type_code = a % 3 ? 0x1A : 0x13;
    d.type_name = a % 3 ? QStringLiteral("DLX508B") : QStringLiteral("KOR");
    d.pcb_version = 0x12;
    d.soft_version = 0x31;
    const int serial = a * 1000 + (a % 17 == v % 17 ? v : 0);
    d.serial = QStringLiteral("0712%1").arg(serial, 5, 10, QLatin1Char('0'));
    for (uint8_t code : {1, 2, 3, 4, 5, 6, 7, 12, 15})
        d.params[code] = uint8_t(code * 10 + (a % 11 == v % 11 ? v : 0));
    d.params[record::Mode_Code] = uint8_t(a % 3);
    d.readout = record::Readout::Complete;
    d.readout_at = when.addSecs(a);
    d.alarms.count = a % 5 == 0;
    d.tested = d.alarms.count > 0;
    return d;
}

bool build(const QString& path) {
    QString why;
    auto file = site::File::create(path, QStringLiteral("Banc"), &why);
    if (!file) return std::fprintf(stderr, "create: %s\n", qPrintable(why)), false;
    const qint64 loop = file->loop_id(QStringLiteral("1"));
    const QDateTime first = QDateTime::currentDateTime().addDays(-visit_count * 30);
    for (int v = 1; v <= visit_count; ++v) {
        const QDateTime when = first.addDays(v * 30);
        const qint64 id = file->begin_visit(loop, QStringLiteral("Technicien %1").arg(v), when);
        site::Batch b;
        for (int a = 1; a <= Detectors; ++a)
            b.detectors[a] = detector(v, a, when);
        for (int e = 0; e < Events / visit_count; ++e)
            b.events.append({when.addMSecs(e * 100), e % (Detectors + 1),
                             QStringLiteral("Alarme, point %1 en veille après l'essai").arg(e)});
        b.searches.append({when, Detectors, Detectors, QString()});
        if (!id || !file->write(id, b))
            return std::fprintf(stderr, "write: %s\n", qPrintable(file->last_error())), false;
    }
    return true;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, QString(argv[1]).toInt()) : 9;
    visit_count = argc > 2 ? std::clamp(QString(argv[2]).toInt(), 2, 10000) : 20;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("banc.kalsite"));
    QElapsedTimer clock;
    clock.start();
    if (!build(path)) return 1;
    std::printf("site file of %d visits x %d detectors, %d events: built in %.0f ms, %.1f MB\n",
                visit_count, Detectors, Events, clock.nsecsElapsed() / 1e6,
                QFileInfo(path).size() / 1048576.0);

    std::vector<double> open_ms, check_ms, list_ms, load_ms, journal_ms, compare_ms;
    int changes = 0;
    for (int i = 0; i < runs; ++i) {
        QString why;
        clock.restart();
        auto file = site::File::open(path, &why);
        if (!file) return std::fprintf(stderr, "open: %s\n", qPrintable(why)), 1;
        const double opened = clock.nsecsElapsed() / 1e6;
        const QList<site::Visit> all = file->visits();
        const double listed = clock.nsecsElapsed() / 1e6;
        site::Stored_Visit last;
        if (all.size() != visit_count || !file->load_visit(all.last().id, &last))
            return std::fprintf(stderr, "the last visit does not load\n"), 1;
        const double loaded = clock.nsecsElapsed() / 1e6;
        const QList<record::Event> journal = file->events(last.visit.id);
        const double total = clock.nsecsElapsed() / 1e6;
        if (journal.size() != Events / visit_count)
            return std::fprintf(stderr, "journal of %lld events\n", qlonglong(journal.size())), 1;
        check_ms.push_back(opened);
        list_ms.push_back(listed - opened);
        load_ms.push_back(loaded - listed);
        journal_ms.push_back(total - loaded);
        open_ms.push_back(total);

        // The comparison, on the file open.
        clock.restart();
        site::Stored_Visit now, before;
        const qint64 id = all.last().id;
        if (!file->load_visit(id, &now) || !file->load_visit(file->previous_visit(id), &before))
            return std::fprintf(stderr, "the visits to compare do not load\n"), 1;
        changes = 0;
        for (int a = Loop_Record::First; a <= Loop_Record::Last; ++a) {
            const record::Detector& b = before.detectors[size_t(a - 1)];
            const record::Detector& n = now.detectors[size_t(a - 1)];
            const Visit_Change c = compare_visit_detector(b, n, a, now.searched_to);
            if (c != Visit_Change::None && c != Visit_Change::Same)
                changes += !visit_change_detail(b, n).isEmpty();
        }
        compare_ms.push_back(clock.nsecsElapsed() / 1e6);
    }
    std::printf("%d runs (first, median):\n", runs);
    std::printf("  File::open with its checks  %7.1f %7.1f ms\n", check_ms[0], median(check_ms));
    std::printf("  visits()                    %7.1f %7.1f ms\n", list_ms[0], median(list_ms));
    std::printf("  load_visit(last)            %7.1f %7.1f ms\n", load_ms[0], median(load_ms));
    std::printf("  events(last), %d lines    %7.1f %7.1f ms\n", Events / visit_count, journal_ms[0],
                median(journal_ms));
    std::printf("  opening, all of the above   %7.1f %7.1f ms (goal < 200)\n", open_ms[0],
                median(open_ms));
    std::printf("  comparison of two visits    %7.1f %7.1f ms (goal < 100), %d addresses changed\n",
                compare_ms[0], median(compare_ms), changes);
    if (changes == 0) return std::fprintf(stderr, "the comparison found no change\n"), 1;
    print_figure(QStringLiteral("site file of %1 visits, 100k events: open, list, load last "
                                "visit (median)")
                     .arg(visit_count)
                     .toUtf8()
                     .constData(),
                 median(open_ms), "ms", No_Anchor, "< 200");
    print_figure(QStringLiteral("site file of %1 visits: compare two visits of 128 detectors "
                                "(median)")
                     .arg(visit_count)
                     .toUtf8()
                     .constData(),
                 median(compare_ms), "ms", No_Anchor, "< 100");
    return 0;
}
