#include "tools/loopsim/console.h"

#include <QRegularExpression>
#include <QStringList>

namespace loopsim {

namespace {

QString hex(int v) {
    return QString::asprintf("0x%02X", unsigned(v));
}

QString address_text(int a) {
    return QStringLiteral("%1").arg(a, 3, 10, QLatin1Char('0'));
}

QString type_name(uint8_t code) {
    switch (code) {
    case 0x13:
    case 0x19:
        return QStringLiteral("KOR");
    case 0x1A:
        return QStringLiteral("DLX508B");
    case 0x17:
        return QStringLiteral("KTRW");
    case 0x21:
        return QStringLiteral("ZEPHA");
    case 0x42:
        return QStringLiteral("MURO-S");
    default:
        return QStringLiteral("?");
    }
}

QString point_text(uint8_t state, uint8_t status) {
    if (status != 0) return QStringLiteral("com fault (status %1)").arg(hex(status));
    if (state & 0x01) return QStringLiteral("alarm");
    if (state & 0x08) return QStringLiteral("point fault");
    return QStringLiteral("standby");
}

QString mode_text(uint8_t mode) {
    QStringList parts;
    parts << ((mode & 0x02) ? QStringLiteral("optical off") : QStringLiteral("optical on"));
    parts << ((mode & 0x01) ? QStringLiteral("thermal off") : QStringLiteral("thermal on"));
    if (mode & 0x04) parts << QStringLiteral("static");
    return parts.join(QStringLiteral(", "));
}

bool parse_int(const QString& s, int lo, int hi, int* out) {
    bool ok = false;
    const int v = s.startsWith(QLatin1String("0x"), Qt::CaseInsensitive) ? s.mid(2).toInt(&ok, 16)
                                                                         : s.toInt(&ok, 10);
    if (!ok || v < lo || v > hi) return false;
    *out = v;
    return true;
}

// "AA 55 0d" or "AA550D"
bool parse_hex_bytes(const QStringList& words, QByteArray* out) {
    QString all = words.join(QString()).remove(QStringLiteral("0x"), Qt::CaseInsensitive);
    if (all.size() % 2 != 0) return false;
    QByteArray b;
    for (int i = 0; i < all.size(); i += 2) {
        bool ok = false;
        const int v = all.mid(i, 2).toInt(&ok, 16);
        if (!ok) return false;
        b.append(char(v));
    }
    *out = b;
    return true;
}

} // namespace

Console::Console(Board& board, Printer print, QObject* parent)
    : QObject(parent), board_(board), print_(std::move(print)) {
    connect(&board_, &Board::led_switched, this, [this](int a, bool on) {
        print_(QStringLiteral("LED %1 %2")
                   .arg(address_text(a), on ? QStringLiteral("ON") : QStringLiteral("OFF")));
    });
    connect(&board_, &Board::mode_written, this, [this](int a, quint8 m) {
        print_(QStringLiteral("mode %1 written %2 (%3), waiting for commit")
                   .arg(address_text(a), hex(m), mode_text(m)));
    });
    connect(&board_, &Board::mode_committed, this, [this](int a, quint8 m) {
        print_(QStringLiteral("mode %1 now %2 (%3)").arg(address_text(a), hex(m), mode_text(m)));
    });
    connect(&board_, &Board::point_changed, this, [this](int a, quint8 state, quint8 status) {
        print_(QStringLiteral("point %1 -> %2 (script)")
                   .arg(address_text(a), point_text(state, status)));
    });
}

bool Console::on_off(const QString& arg, bool* on) {
    if (arg == QLatin1String("on")) return *on = true, true;
    if (arg == QLatin1String("off")) return *on = false, true;
    print_(QStringLiteral("expected on or off"));
    return false;
}

// The detector at the address `arg` names, or null after saying why there is none.
Detector* Console::detector_at(const QString& verb, const QString& arg, int* address) {
    if (!parse_int(arg, 1, 128, address)) {
        print_(QStringLiteral("%1: an address 1..128 is expected").arg(verb));
        return nullptr;
    }
    auto it = board_.loop().detectors.find(*address);
    if (it != board_.loop().detectors.end()) return &it->second;
    print_(QStringLiteral("no detector at %1").arg(address_text(*address)));
    return nullptr;
}

bool Console::point_command(const QString& verb, const QString& arg) {
    int a = 0;
    Detector* found = detector_at(verb, arg, &a);
    if (!found) return true;
    Detector& d = *found;
    if (verb == QLatin1String("alarm")) {
        d.state = 0x01;
        d.poll_status = 0;
    } else if (verb == QLatin1String("fault")) {
        d.state = 0x08;
        d.poll_status = 0;
    } else if (verb == QLatin1String("comfault")) {
        d.poll_status = 1;
    } else {
        d.state = 0;
        d.poll_status = 0;
    }
    print_(
        QStringLiteral("point %1 -> %2").arg(address_text(a), point_text(d.state, d.poll_status)));
    return true;
}

// refuse N CODE: the detector at N answers frame CODE (its P0) with status 1; accept N CODE
// answers it again.
bool Console::refusal_command(const QString& verb, const QStringList& args) {
    int a = 0;
    Detector* d = detector_at(verb, args.value(0), &a);
    if (!d) return true;
    const QString c = args.value(1).toLower();
    bool ok = false;
    const int code = c.startsWith(QLatin1String("0x")) ? c.mid(2).toInt(&ok, 16) : c.toInt(&ok);
    if (args.size() != 2 || !ok || code < 0 || code > 255) {
        print_(QStringLiteral("%1: a frame code 0..255 is expected after the address").arg(verb));
        return true;
    }
    if (verb == QLatin1String("refuse"))
        d->refused.insert(code);
    else
        d->refused.remove(code);
    print_(QStringLiteral("%1 %2 frame 0x%3")
               .arg(verb == QLatin1String("refuse") ? QStringLiteral("refused at")
                                                    : QStringLiteral("accepted at"),
                    address_text(a))
               .arg(code, 2, 16, QLatin1Char('0')));
    return true;
}

bool Console::execute(const QString& line) {
    const QStringList w = line.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (w.isEmpty()) return true;
    const QString verb = w[0].toLower();
    const QString arg = w.size() > 1 ? w[1].toLower() : QString();
    bool on = false;
    int n = 0;

    if (verb == QLatin1String("quit") || verb == QLatin1String("exit")) return false;
    if (verb == QLatin1String("help") || verb == QLatin1String("?")) {
        print_(help_text());
    } else if (verb == QLatin1String("status")) {
        print_(status_text());
    } else if (verb == QLatin1String("alarm") || verb == QLatin1String("fault") ||
               verb == QLatin1String("comfault") || verb == QLatin1String("clear")) {
        return point_command(verb, arg);
    } else if (verb == QLatin1String("refuse") || verb == QLatin1String("accept")) {
        return refusal_command(verb, w.mid(1));
    } else if (verb == QLatin1String("short")) {
        if (!on_off(arg, &on)) return true;
        uint8_t& s = board_.loop().status;
        s = on ? uint8_t(s | 0x10) : uint8_t(s & ~0x10);
        print_(QStringLiteral("loop short circuit %1").arg(arg));
    } else if (verb == QLatin1String("silent")) {
        if (!on_off(arg, &on)) return true;
        board_.set_silent(silent_ = on);
        print_(QStringLiteral("silent %1").arg(arg));
    } else if (verb == QLatin1String("echostop") || verb == QLatin1String("wrongecho")) {
        if (!parse_int(arg, 0, 3, &n)) {
            print_(QStringLiteral("%1: a byte of the frame 1..3 (0 = off) is expected").arg(verb));
            return true;
        }
        if (verb == QLatin1String("echostop"))
            board_.set_echo_stop(echo_stop_ = n);
        else
            board_.set_wrong_echo(wrong_echo_ = n);
        print_(n ? QStringLiteral("%1 at byte %2").arg(verb).arg(n)
                 : QStringLiteral("%1 off").arg(verb));
    } else if (verb == QLatin1String("delay")) {
        if (!parse_int(arg, 0, 600000, &n)) {
            print_(QStringLiteral("delay: milliseconds are expected"));
            return true;
        }
        board_.set_reply_delay(delay_ms_ = n);
        print_(QStringLiteral("answers delayed by %1 ms").arg(n));
    } else if (verb == QLatin1String("garbage")) {
        QByteArray bytes;
        if (!parse_hex_bytes(w.mid(1), &bytes)) {
            print_(QStringLiteral("garbage: hex bytes are expected (none = off)"));
            return true;
        }
        board_.set_garbage(garbage_ = bytes);
        print_(bytes.isEmpty() ? QStringLiteral("garbage off")
                               : QStringLiteral("garbage %1 after each answer")
                                     .arg(QString::fromLatin1(bytes.toHex(' ').toUpper())));
    } else if (verb == QLatin1String("extra")) {
        if (!parse_int(arg, 0, 64, &n)) {
            print_(QStringLiteral("extra: a number of bytes 0..64 is expected"));
            return true;
        }
        board_.set_extra_bytes(extra_ = n);
        print_(QStringLiteral("%1 extra bytes after each frame reply").arg(n));
    } else if (verb == QLatin1String("shortreply")) {
        if (!on_off(arg, &on)) return true;
        board_.set_short_replies(short_replies_ = on);
        print_(QStringLiteral("short frame replies %1").arg(arg));
    } else if (verb == QLatin1String("paced")) {
        if (!on_off(arg, &on)) return true;
        board_.set_paced(paced_ = on);
        print_(QStringLiteral("paced %1").arg(arg));
    } else if (verb == QLatin1String("hangup")) {
        board_.hang_up();
        print_(QStringLiteral("hung up; %1 stays").arg(board_.link_path()));
    } else if (verb == QLatin1String("back")) {
        QString error;
        if (board_.come_back(&error))
            print_(
                QStringLiteral("back: %1 -> %2").arg(board_.link_path(), board_.terminal_path()));
        else
            print_(QStringLiteral("back failed: %1").arg(error));
    } else {
        print_(QStringLiteral("unknown command \"%1\"; try help").arg(verb));
    }
    return true;
}

bool Console::apply_fault(const QString& option, QString* error) {
    const int colon = option.indexOf(QLatin1Char(':'));
    const QString name = (colon < 0 ? option : option.left(colon)).toLower();
    const QString value = colon < 0 ? QString() : option.mid(colon + 1);
    QString line;
    if (name == QLatin1String("silent") || name == QLatin1String("shortreply"))
        line = name + QStringLiteral(" on");
    else if (!value.isEmpty() &&
             (name == QLatin1String("echostop") || name == QLatin1String("wrongecho") ||
              name == QLatin1String("delay") || name == QLatin1String("garbage") ||
              name == QLatin1String("extra")))
        line = name + QLatin1Char(' ') + value;
    if (line.isEmpty()) {
        if (error)
            *error = QStringLiteral("unknown fault \"%1\" (silent, echostop:K, wrongecho:K, "
                                    "delay:MS, garbage:HEX, extra:N, shortreply)")
                         .arg(option);
        return false;
    }
    QString said;
    const Printer keep = print_;
    print_ = [&said](const QString& s) { said = s; };
    execute(line);
    print_ = keep;
    const bool ok =
        !said.contains(QLatin1String("expected")) && !said.contains(QLatin1String("unknown"));
    if (!ok && error) *error = said;
    return ok;
}

QString Console::faults_text() const {
    QStringList f;
    if (silent_) f << QStringLiteral("silent");
    if (echo_stop_) f << QStringLiteral("echo stop at byte %1").arg(echo_stop_);
    if (wrong_echo_) f << QStringLiteral("wrong echo at byte %1").arg(wrong_echo_);
    if (delay_ms_) f << QStringLiteral("delay %1 ms").arg(delay_ms_);
    if (!garbage_.isEmpty())
        f << QStringLiteral("garbage %1").arg(QString::fromLatin1(garbage_.toHex(' ').toUpper()));
    if (extra_) f << QStringLiteral("%1 extra bytes").arg(extra_);
    if (short_replies_) f << QStringLiteral("short replies");
    if (paced_) f << QStringLiteral("paced");
    if (board_.hung_up()) f << QStringLiteral("hung up");
    return f.isEmpty() ? QStringLiteral("none") : f.join(QStringLiteral(", "));
}

QString Console::status_text() const {
    const Loop& l = board_.loop();
    QStringList out;
    out << QStringLiteral("board %1 version %2, status %3%4, re-arm %5")
               .arg(board_.link_path(), hex(l.version), hex(l.status),
                    (l.status & 0x10) ? QStringLiteral(" (SHORT CIRCUIT)") : QString(),
                    l.rearm_answers ? QStringLiteral("answered") : QStringLiteral("silent"));
    out << QStringLiteral("faults: %1; %2 frames answered")
               .arg(faults_text())
               .arg(board_.frames_answered());
    out << QStringLiteral("adr  type         pcb  soft serial       mode point");
    QStringList lit;
    for (const auto& [a, d] : l.detectors) {
        QString row = QString::asprintf(
            "%03d  0x%02X %-7s 0x%02X 0x%02X %02X %02X %02X %02X  0x%02X ", a, d.type_code,
            qPrintable(type_name(d.type_code)), d.pcb_version, d.soft_version, d.serial[0],
            d.serial[1], d.serial[2], d.serial[3], d.mode);
        row += point_text(d.state, d.poll_status);
        if (d.led) row += QStringLiteral(", LED ON");
        if (d.mode_pending) row += QStringLiteral(", mode %1 pending").arg(hex(d.pending_mode));
        out << row;
        if (d.led) lit << address_text(a);
    }
    out << QStringLiteral("LEDs lit: %1")
               .arg(lit.isEmpty() ? QStringLiteral("none") : lit.join(QLatin1Char(' ')));
    return out.join(QLatin1Char('\n'));
}

QString Console::help_text() {
    return QStringLiteral(
        "alarm N | fault N | comfault N | clear N   set the point state of address N\n"
        "refuse N CODE | accept N CODE              N answers frame CODE with status 1, or again\n"
        "short on|off                               short circuit on the loop\n"
        "silent on|off                              answer nothing at all\n"
        "echostop K | wrongecho K                   no / wrong echo of frame byte K (0 = off)\n"
        "delay MS                                   every answer MS later\n"
        "garbage HEX..                              bytes sent unasked after each answer\n"
        "extra N                                    N more bytes after each frame reply\n"
        "shortreply on|off                          one-byte frame replies\n"
        "paced on|off                               9600 baud byte timing\n"
        "hangup | back                              hang the line up / come back\n"
        "status | help | quit");
}

} // namespace loopsim
