#include "app/journal.h"

#include "model/detector_types.h"
#include "model/tool.h"

using namespace record;

namespace {

QString when(const QDateTime& t) {
    return t.isValid() ? t.toString(QStringLiteral("dd/MM HH:mm:ss")) : QString();
}

QString address_text(int a) {
    return a == 0 ? QStringLiteral("boucle") : three_digits(a);
}

} // namespace

QList<QStringList> journal_events(const Loop_Record& record) {
    QList<QStringList> rows;
    rows.reserve(record.events().size());
    for (const Event& e : record.events())
        rows << QStringList{when(e.at), address_text(e.address), e.text};
    return rows;
}

QList<QStringList> journal_summary(const Loop_Record& record) {
    QList<QStringList> rows;
    for (int a = Loop_Record::First; a <= Loop_Record::Last; ++a) {
        const Detector& d = record.at(a);
        if (!d.found && d.alarms.count + d.point_faults.count + d.com_faults.count == 0) continue;
        QStringList row{address_text(a), d.type_name, point_text(d.point),
                        record.simulated() ? (d.tested ? QString::fromUtf8("testé")
                                                       : QString::fromUtf8("non testé"))
                                           : QString()};
        for (const Tally* t : {&d.alarms, &d.point_faults, &d.com_faults})
            row << QString::number(t->count) << when(t->first) << when(t->last);
        rows << row;
    }
    return rows;
}

QString walk_test_text(const Loop_Record& record) {
    if (!record.simulated()) return QString();
    QStringList untested;
    int found = 0;
    for (int a : record.found()) {
        ++found;
        if (!record.at(a).tested) untested << address_text(a);
    }
    QString text =
        QString::fromUtf8("Essai : %1 testés sur %2").arg(found - untested.size()).arg(found);
    if (!untested.isEmpty())
        text += QString::fromUtf8(" ; non testés : %1").arg(untested.join(QStringLiteral(", ")));
    return text + QLatin1Char('.');
}

void Journal_Mnu_Click(Tool& t) {
    if (t.dialogs) t.dialogs->show_journal(t.record);
}
