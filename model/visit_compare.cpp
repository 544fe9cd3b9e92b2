#include "model/visit_compare.h"

#include "model/detector_types.h"

#include <QStringList>

namespace {

// Parameters and mode read in both visits, with their two values where they differ.
QStringList settings_changed(const record::Detector& before, const record::Detector& now) {
    QStringList out;
    for (const auto& [code, value] : now.params) {
        const auto old = before.params.find(code);
        if (old == before.params.end() || old->second == value) continue;
        out << (code == record::Mode_Code
                    ? QString::fromUtf8("mode : %1 → %2")
                          .arg(record::mode_text(old->second), record::mode_text(value))
                    : QString::fromUtf8("paramètre %1 : %2 → %3")
                          .arg(code)
                          .arg(old->second)
                          .arg(value));
    }
    return out;
}

} // namespace

Visit_Change compare_visit_detector(const record::Detector& before, const record::Detector& now,
                                    int address, int searched_to) {
    if (!before.found && !now.found) return Visit_Change::None;
    if (!now.found) return address <= searched_to ? Visit_Change::Missing : Visit_Change::None;
    if (!before.found) return Visit_Change::New;
    const bool serials = !before.serial.isEmpty() && !now.serial.isEmpty();
    if (serials && before.serial != now.serial) return Visit_Change::Replaced;
    if (before.type_code >= 0 && now.type_code >= 0 && before.type_code != now.type_code)
        return Visit_Change::Type_Changed;
    if (!settings_changed(before, now).isEmpty()) return Visit_Change::Settings;
    return serials ? Visit_Change::Same : Visit_Change::Found_Again;
}

QString visit_change_text(Visit_Change c) {
    switch (c) {
    case Visit_Change::Same:
        return QString::fromUtf8("le même");
    case Visit_Change::Found_Again:
        return QString::fromUtf8("retrouvé (série non lue)");
    case Visit_Change::Replaced:
        return QString::fromUtf8("remplacé");
    case Visit_Change::Type_Changed:
        return QString::fromUtf8("type changé");
    case Visit_Change::Settings:
        return QString::fromUtf8("réglage changé");
    case Visit_Change::Missing:
        return QString::fromUtf8("manquant");
    case Visit_Change::New:
        return QString::fromUtf8("nouveau");
    case Visit_Change::None:
        break;
    }
    return {};
}

QString visit_change_detail(const record::Detector& before, const record::Detector& now) {
    QStringList out;
    if (!before.serial.isEmpty() && !now.serial.isEmpty() && before.serial != now.serial)
        out << QString::fromUtf8("série %1 → %2").arg(before.serial, now.serial);
    if (before.type_code >= 0 && now.type_code >= 0 && before.type_code != now.type_code)
        out << QString::fromUtf8("type %1 → %2").arg(before.type_name, now.type_name);
    out << settings_changed(before, now);
    return out.join(QStringLiteral(", "));
}

QString moved_from(const Visit_Detectors& earlier, const record::Detector& now, int address) {
    if (now.serial.isEmpty()) return {};
    for (int a = Loop_Record::First; a <= Loop_Record::Last; ++a)
        if (a != address && earlier[size_t(a - 1)].serial == now.serial)
            return QString::fromUtf8("était en ") + three_digits(a);
    return {};
}
