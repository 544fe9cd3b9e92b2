#include "tools/loopsim/loop.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QStringList>
#include <algorithm>
#include <cmath>

namespace loopsim {

namespace {

Detector make(uint8_t type, uint8_t pcb, uint8_t soft, std::array<uint8_t, 4> serial) {
    Detector d;
    d.type_code = type;
    d.pcb_version = pcb;
    d.soft_version = soft;
    d.serial = serial;
    return d;
}

// Parameter set of the optical-thermal heads: initial value (12), thresholds, counts,
// strobe width, averaging, fault checks and amplifier delay (15).
std::map<uint8_t, uint8_t> head_params(uint8_t initial, uint8_t alarm_threshold) {
    return {{12, initial}, {1, alarm_threshold}, {2, 8}, {3, 3}, {4, 5}, {5, 20}, {6, 1}, {7, 4},
            {15, 12}};
}

// --- JSON reading ---------------------------------------------------------------------------

// Every reader returns false with a message naming the offending item.
struct Reader {
    QString* error;

    bool fail(const QString& where, const QString& what) {
        if (error) *error = where + QStringLiteral(": ") + what;
        return false;
    }

    // A whole number given as a JSON number, or as a string in hex ("0x1A") or decimal.
    bool integer(const QJsonValue& v, const QString& where, qint64 lo, qint64 hi, qint64* out) {
        qint64 n = 0;
        if (v.isDouble()) {
            const double x = v.toDouble();
            if (!std::isfinite(x) || std::floor(x) != x || std::fabs(x) > 1e15)
                return fail(where, QStringLiteral("not a whole number"));
            n = static_cast<qint64>(x);
        } else if (v.isString()) {
            const QString s = v.toString().trimmed();
            bool ok = false;
            if (s.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
                n = s.mid(2).toLongLong(&ok, 16);
            else
                n = s.toLongLong(&ok, 10);
            if (!ok || s.isEmpty())
                return fail(where, QStringLiteral("\"%1\" is not a number").arg(s));
        } else {
            return fail(where, QStringLiteral("a number is expected"));
        }
        if (n < lo || n > hi)
            return fail(where, QStringLiteral("%1 is outside %2..%3").arg(n).arg(lo).arg(hi));
        *out = n;
        return true;
    }

    bool byte(const QJsonValue& v, const QString& where, uint8_t* out) {
        qint64 n;
        if (!integer(v, where, 0, 255, &n)) return false;
        *out = static_cast<uint8_t>(n);
        return true;
    }

    bool number(const QJsonValue& v, const QString& where, double* out) {
        if (!v.isDouble() || !std::isfinite(v.toDouble()) || v.toDouble() < 0)
            return fail(where, QStringLiteral("a number of seconds (0 or more) is expected"));
        *out = v.toDouble();
        return true;
    }

    bool boolean(const QJsonValue& v, const QString& where, bool* out) {
        if (!v.isBool()) return fail(where, QStringLiteral("true or false is expected"));
        *out = v.toBool();
        return true;
    }

    bool code_set(const QJsonValue& v, const QString& where, QSet<int>* out) {
        if (!v.isArray()) return fail(where, QStringLiteral("a list of frame codes is expected"));
        QSet<int> set;
        const QJsonArray a = v.toArray();
        for (int i = 0; i < a.size(); ++i) {
            uint8_t c;
            if (!byte(a.at(i), where + QStringLiteral("[%1]").arg(i), &c)) return false;
            set.insert(c);
        }
        *out = set;
        return true;
    }

    // Keys starting with "_" or named "comment" are free for the author's notes.
    bool known_keys(const QJsonObject& o, const QString& where, const QStringList& keys) {
        for (auto it = o.begin(); it != o.end(); ++it) {
            const QString& k = it.key();
            if (k.startsWith(QLatin1Char('_')) || k == QLatin1String("comment")) continue;
            if (!keys.contains(k)) return fail(where, QStringLiteral("unknown key \"%1\"").arg(k));
        }
        return true;
    }

    bool detector(const QJsonObject& o, const QString& where, Detector* d) {
        const QJsonValue type = o.value(QLatin1String("type"));
        if (!type.isUndefined() && !byte(type, where + QStringLiteral(".type"), &d->type_code))
            return false;
        const QJsonValue pcb = o.value(QLatin1String("pcb"));
        if (!pcb.isUndefined() && !byte(pcb, where + QStringLiteral(".pcb"), &d->pcb_version))
            return false;
        const QJsonValue soft = o.value(QLatin1String("soft"));
        if (!soft.isUndefined() && !byte(soft, where + QStringLiteral(".soft"), &d->soft_version))
            return false;
        const QJsonValue serial = o.value(QLatin1String("serial"));
        if (!serial.isUndefined()) {
            if (!serial.isArray() || serial.toArray().size() != 4)
                return fail(where + QStringLiteral(".serial"),
                            QStringLiteral("a list of four bytes is expected"));
            for (int i = 0; i < 4; ++i)
                if (!byte(serial.toArray().at(i), where + QStringLiteral(".serial[%1]").arg(i),
                          &d->serial[static_cast<size_t>(i)]))
                    return false;
        }
        const QJsonValue params = o.value(QLatin1String("params"));
        if (!params.isUndefined()) {
            if (!params.isObject())
                return fail(where + QStringLiteral(".params"),
                            QStringLiteral("an object {\"code\": value} is expected"));
            d->params.clear();
            const QJsonObject p = params.toObject();
            for (auto it = p.begin(); it != p.end(); ++it) {
                const QString w = where + QStringLiteral(".params.") + it.key();
                qint64 code;
                uint8_t value;
                if (!integer(QJsonValue(it.key()), w, 0, 15, &code)) return false;
                if (!byte(it.value(), w, &value)) return false;
                d->params[static_cast<uint8_t>(code)] = value;
            }
        }
        const QJsonValue mode = o.value(QLatin1String("mode"));
        if (!mode.isUndefined()) {
            if (!byte(mode, where + QStringLiteral(".mode"), &d->mode)) return false;
            d->pending_mode = d->mode;
        }
        const QJsonValue state = o.value(QLatin1String("state"));
        if (!state.isUndefined() &&
            !point_state(state, where + QStringLiteral(".state"), &d->state))
            return false;
        for (const char* key : {"status", "poll_status"}) {
            const QJsonValue status = o.value(QLatin1String(key));
            if (!status.isUndefined() &&
                !byte(status, where + QLatin1Char('.') + QLatin1String(key), &d->poll_status))
                return false;
        }
        const QJsonValue refusals = o.value(QLatin1String("probe_refusals"));
        if (!refusals.isUndefined()) {
            qint64 n;
            if (!integer(refusals, where + QStringLiteral(".probe_refusals"), 0, 1000000, &n))
                return false;
            d->probe_refusals = static_cast<int>(n);
        }
        const QJsonValue second = o.value(QLatin1String("second_accepts"));
        if (!second.isUndefined() &&
            !boolean(second, where + QStringLiteral(".second_accepts"), &d->second_accepts))
            return false;
        const QJsonValue led = o.value(QLatin1String("led"));
        if (!led.isUndefined() && !boolean(led, where + QStringLiteral(".led"), &d->led))
            return false;
        const QJsonValue phases = o.value(QLatin1String("phases"));
        if (!phases.isUndefined()) {
            if (!phases.isArray())
                return fail(where + QStringLiteral(".phases"),
                            QStringLiteral("a list of phases (1, 2) is expected"));
            d->phases.clear();
            const QJsonArray a = phases.toArray();
            for (int i = 0; i < a.size(); ++i) {
                qint64 n;
                if (!integer(a.at(i), where + QStringLiteral(".phases[%1]").arg(i), 1, 2, &n))
                    return false;
                d->phases.insert(static_cast<int>(n));
            }
        }
        const QJsonValue refused = o.value(QLatin1String("refused"));
        if (!refused.isUndefined() &&
            !code_set(refused, where + QStringLiteral(".refused"), &d->refused))
            return false;
        const QJsonValue silent = o.value(QLatin1String("silent"));
        if (!silent.isUndefined() &&
            !code_set(silent, where + QStringLiteral(".silent"), &d->silent))
            return false;
        return true;
    }

    bool point_state(const QJsonValue& v, const QString& where, uint8_t* out) {
        if (v.isString()) {
            const QString s = v.toString();
            if (s == QLatin1String("alarm")) return *out = 0x01, true;
            if (s == QLatin1String("fault")) return *out = 0x08, true;
            if (s == QLatin1String("standby")) return *out = 0x00, true;
        }
        return byte(v, where, out);
    }

    static const QStringList& detector_keys() {
        static const QStringList keys = {QStringLiteral("type"),
                                         QStringLiteral("pcb"),
                                         QStringLiteral("soft"),
                                         QStringLiteral("serial"),
                                         QStringLiteral("params"),
                                         QStringLiteral("mode"),
                                         QStringLiteral("state"),
                                         QStringLiteral("status"),
                                         QStringLiteral("poll_status"),
                                         QStringLiteral("probe_refusals"),
                                         QStringLiteral("second_accepts"),
                                         QStringLiteral("phases"),
                                         QStringLiteral("refused"),
                                         QStringLiteral("silent"),
                                         QStringLiteral("led")};
        return keys;
    }

    // One entry of "detectors" (or of "range"): either "address" or "from" and "to".
    bool entry(const QJsonValue& v, const QString& where, Loop* loop) {
        if (!v.isObject()) return fail(where, QStringLiteral("an object is expected"));
        const QJsonObject o = v.toObject();
        QStringList keys = detector_keys();
        keys << QStringLiteral("address") << QStringLiteral("from") << QStringLiteral("to");
        if (!known_keys(o, where, keys)) return false;
        qint64 from, to;
        if (o.contains(QLatin1String("address"))) {
            if (o.contains(QLatin1String("from")) || o.contains(QLatin1String("to")))
                return fail(where, QStringLiteral("give either \"address\" or \"from\"/\"to\""));
            if (!integer(o.value(QLatin1String("address")), where + QStringLiteral(".address"), 1,
                         128, &from))
                return false;
            to = from;
        } else if (o.contains(QLatin1String("from")) && o.contains(QLatin1String("to"))) {
            if (!integer(o.value(QLatin1String("from")), where + QStringLiteral(".from"), 1, 128,
                         &from) ||
                !integer(o.value(QLatin1String("to")), where + QStringLiteral(".to"), 1, 128, &to))
                return false;
            if (to < from) return fail(where, QStringLiteral("\"to\" is below \"from\""));
        } else {
            return fail(where, QStringLiteral("\"address\" (or \"from\" and \"to\") is missing"));
        }
        Detector d;
        if (!detector(o, where, &d)) return false;
        for (qint64 a = from; a <= to; ++a)
            loop->detectors[static_cast<int>(a)] = d;
        return true;
    }

    bool script_event(const QJsonValue& v, const QString& where, Script_Event* e) {
        if (!v.isObject()) return fail(where, QStringLiteral("an object is expected"));
        const QJsonObject o = v.toObject();
        if (!known_keys(o, where,
                        {QStringLiteral("at"), QStringLiteral("address"), QStringLiteral("state"),
                         QStringLiteral("status")}))
            return false;
        if (!o.contains(QLatin1String("at")) || !o.contains(QLatin1String("address")))
            return fail(where, QStringLiteral("\"at\" and \"address\" are required"));
        if (!number(o.value(QLatin1String("at")), where + QStringLiteral(".at"), &e->at_seconds))
            return false;
        qint64 a;
        if (!integer(o.value(QLatin1String("address")), where + QStringLiteral(".address"), 1, 128,
                     &a))
            return false;
        e->address = static_cast<int>(a);
        const QJsonValue state = o.value(QLatin1String("state"));
        if (!state.isUndefined() &&
            !point_state(state, where + QStringLiteral(".state"), &e->state))
            return false;
        const QJsonValue status = o.value(QLatin1String("status"));
        if (!status.isUndefined() &&
            !byte(status, where + QStringLiteral(".status"), &e->poll_status))
            return false;
        return true;
    }
};

} // namespace

Loop default_loop() {
    Loop loop;
    loop.version = 0x31;
    loop.status = 0x00;
    loop.rearm_answers = true;
    auto& d = loop.detectors;

    d[1] = make(0x13, 0x12, 0x31, {7, 12, 1, 44});
    d[1].params = head_params(100, 40);
    d[1].refused.insert(0x18);

    d[2] = make(0x1A, 0x21, 0x42, {9, 3, 0, 17});
    d[2].params = head_params(96, 38);
    d[2].mode = 0x00;

    d[3] = make(0x19, 0x13, 0x33, {8, 45, 2, 5});
    d[3].params = head_params(104, 42);
    d[3].refused.insert(0x18);

    d[4] = make(0x17, 0x10, 0x25, {6, 50, 0, 201});
    d[5] = make(0x21, 0x11, 0x30, {10, 7, 3, 99});

    // A run of nine of the same type, so the running number of its name wraps round.
    for (int a = 6; a <= 14; ++a) {
        d[a] = make(0x42, 0x10, 0x21, {11, 2, 0, static_cast<uint8_t>(a * 3)});
    }

    d[15] = make(0x1A, 0x21, 0x43, {9, 8, 4, 210});
    d[15].params = head_params(92, 36);
    d[15].mode = 0x04; // thermal element static

    d[16] = make(0x55, 0x01, 0x01, {0, 0, 0, 0}); // a code the tool does not know

    d[17] = make(0x13, 0x12, 0x32, {7, 14, 200, 3}); // third serial part above 32767
    d[17].params = head_params(101, 41);
    d[17].refused.insert(0x18);

    d[18] = make(0x21, 0x11, 0x31, {10, 9, 0, 0});

    d[19] = make(0x1A, 0x22, 0x44, {9, 11, 1, 2});
    d[19].params = head_params(98, 39);
    d[19].mode = 0x02; // optical element off

    d[20] = make(0x13, 0x12, 0x31, {7, 15, 0, 88});
    d[20].params = head_params(99, 40);
    d[20].refused.insert(0x18);

    for (auto& [a, det] : d)
        det.pending_mode = det.mode;

    loop.script = {
        {8.0, 3, 0x01, 0x00},  // alarm
        {12.0, 5, 0x08, 0x00}, // point fault
    };
    return loop;
}

bool parse_loop(const QJsonObject& json, Loop* loop, QString* error) {
    Reader r{error};
    Loop l;
    l.detectors.clear();
    l.script.clear();
    if (!r.known_keys(json, QStringLiteral("loop"),
                      {QStringLiteral("version"), QStringLiteral("status"), QStringLiteral("rearm"),
                       QStringLiteral("detectors"), QStringLiteral("range"),
                       QStringLiteral("script")}))
        return false;
    const QJsonValue version = json.value(QLatin1String("version"));
    if (!version.isUndefined() && !r.byte(version, QStringLiteral("version"), &l.version))
        return false;
    const QJsonValue status = json.value(QLatin1String("status"));
    if (!status.isUndefined() && !r.byte(status, QStringLiteral("status"), &l.status)) return false;
    const QJsonValue rearm = json.value(QLatin1String("rearm"));
    if (!rearm.isUndefined() && !r.boolean(rearm, QStringLiteral("rearm"), &l.rearm_answers))
        return false;

    // Ranges first, so single entries can override addresses inside a range.
    const QJsonValue range = json.value(QLatin1String("range"));
    if (range.isObject()) {
        if (!r.entry(range, QStringLiteral("range"), &l)) return false;
    } else if (range.isArray()) {
        const QJsonArray a = range.toArray();
        for (int i = 0; i < a.size(); ++i)
            if (!r.entry(a.at(i), QStringLiteral("range[%1]").arg(i), &l)) return false;
    } else if (!range.isUndefined()) {
        return r.fail(QStringLiteral("range"), QStringLiteral("an object or a list is expected"));
    }

    const QJsonValue detectors = json.value(QLatin1String("detectors"));
    if (!detectors.isUndefined()) {
        if (!detectors.isArray())
            return r.fail(QStringLiteral("detectors"), QStringLiteral("a list is expected"));
        const QJsonArray a = detectors.toArray();
        for (int i = 0; i < a.size(); ++i)
            if (!r.entry(a.at(i), QStringLiteral("detectors[%1]").arg(i), &l)) return false;
    }

    const QJsonValue script = json.value(QLatin1String("script"));
    if (!script.isUndefined()) {
        if (!script.isArray())
            return r.fail(QStringLiteral("script"), QStringLiteral("a list is expected"));
        const QJsonArray a = script.toArray();
        for (int i = 0; i < a.size(); ++i) {
            Script_Event e;
            if (!r.script_event(a.at(i), QStringLiteral("script[%1]").arg(i), &e)) return false;
            l.script.append(e);
        }
        std::stable_sort(l.script.begin(), l.script.end(),
                         [](const Script_Event& x, const Script_Event& y) {
                             return x.at_seconds < y.at_seconds;
                         });
    }
    *loop = l;
    return true;
}

bool load_loop(const QString& path, Loop* loop, QString* error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error) *error = path + QStringLiteral(": ") + file.errorString();
        return false;
    }
    QJsonParseError pe{};
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &pe);
    if (pe.error != QJsonParseError::NoError) {
        if (error)
            *error =
                QStringLiteral("%1: %2 at offset %3").arg(path, pe.errorString()).arg(pe.offset);
        return false;
    }
    if (!doc.isObject()) {
        if (error) *error = path + QStringLiteral(": the top level must be an object");
        return false;
    }
    QString why;
    if (!parse_loop(doc.object(), loop, &why)) {
        if (error) *error = path + QStringLiteral(": ") + why;
        return false;
    }
    return true;
}

} // namespace loopsim
