#include "tools/loopsim/replay.h"

#include "link/regular_file.h"

#include <QFileInfo>
#include <cmath>

namespace loopsim {

namespace {

// The start of a line as it can be shown in a message: short, and nothing unprintable.
QString excerpt(const QByteArray& line) {
    QString out;
    for (const QChar ch : QString::fromUtf8(line.left(40)))
        out += ch.unicode() < 0x20 || ch.unicode() == 0x7F
                   ? QStringLiteral("\\x%1").arg(ch.unicode(), 2, 16, QLatin1Char('0'))
                   : QString(ch);
    return line.size() > 40 ? out + QStringLiteral("...") : out;
}

// "01 1a e0": hex bytes, one space apart; false for anything else or nothing.
bool parse_bytes(const QByteArray& text, QByteArray* bytes) {
    if (text.isEmpty()) return false;
    for (const QByteArray& token : text.split(' ')) {
        bool ok = false;
        const uint value = token.toUInt(&ok, 16);
        if (!ok || token.size() != 2 || value > 0xFF) return false;
        bytes->append(char(value));
    }
    return true;
}

QString hex(quint8 byte) {
    return QStringLiteral("0x%1").arg(byte, 2, 16, QLatin1Char('0'));
}

} // namespace

bool Replay::load(const QString& path, QString* error) {
    QByteArray text;
    switch (read_regular_file(path, Max_Bytes, &text)) {
    case Read_Result::Done:
        return parse(text, path, error);
    case Read_Result::Missing:
        *error = path + QStringLiteral(": no such file");
        return false;
    case Read_Result::Not_A_File:
        *error = path + QStringLiteral(": not a regular file (a trace is a text file)");
        return false;
    case Read_Result::Unreadable:
        *error = path + QStringLiteral(": cannot be read");
        return false;
    case Read_Result::Too_Large:
        *error = path + QStringLiteral(": larger than %1 MB, more than a trace and its older part "
                                       "hold together")
                            .arg(Max_Bytes >> 20);
        return false;
    }
    return false;
}

bool Replay::parse(const QByteArray& text, const QString& name, QString* error) {
    name_ = name;
    exchanges_.clear();
    lead_in_.clear();
    next_ = 0;
    ended_ = false;
    const auto fail = [&](int line, const QString& why) {
        *error = QStringLiteral("%1:%2: %3").arg(name).arg(line).arg(why);
        exchanges_.clear();
        return false;
    };
    if (const int nul = text.indexOf('\0'); nul >= 0)
        return fail(int(text.left(nul).count('\n')) + 1,
                    QStringLiteral("a NUL byte: not a text file, not a trace"));

    // The exchange between "[" and "]": its request, when it was written, and its reply.
    bool open = false;
    bool seen_begin = false; // before the first "[", the end of an exchange cut off is skipped
    int begun_at = 0;
    Exchange current;
    bool has_request = false, written = false, has_reply = false;
    qint64 request_ns = 0;
    int incomplete = -1; // the exchange whose short reply is the next stale bytes
    int frame_pos = 0;   // frame bytes (header, P0, P1) echoed so far

    const auto finish = [&](const QByteArray& outcome, qint64 at_ns) {
        open = false;
        if (!written) return; // the board never had the byte
        if (outcome.startsWith("port perdu"))
            current.out.append({std::max<qint64>(at_ns - request_ns, 0), {}, true});
        if (outcome.startsWith("réponse incomplète")) {
            // The bytes of a reply cut short are thrown away at the next request: in the trace,
            // the stale bytes that follow, unless it stopped before. Something came in time.
            incomplete = int(exchanges_.size());
            current.out.append({0, QByteArray(1, '\0'), false});
        }
        // Where the request stands in a frame: an echoed header opens one, an echo that fails
        // ends it (the tool starts again with a header), P2 closes it.
        const bool echoed = has_reply && outcome == "réponse" &&
                            quint8(current.out.first().bytes.at(0)) == current.request;
        const bool command = frame_pos == 0 && (current.request & 0xFC) != 0x40;
        frame_pos = frame_pos == 0 ? ((current.request & 0xFC) == 0x40 && echoed ? 1 : 0)
                                   : (frame_pos < 3 && echoed ? frame_pos + 1 : 0);
        // The first answers to the connection's requests, for a tool started before the trace.
        if (command && has_reply && outcome == "réponse" && !lead_in_.count(current.request))
            lead_in_[current.request] = current.out.first().bytes;
        exchanges_.append(current);
    };

    const QList<QByteArray> lines = text.split('\n');
    for (int i = 0; i < lines.size(); ++i) {
        const int n = i + 1;
        QByteArray line = lines[i];
        if (line.endsWith('\r')) line.chop(1);
        const QByteArray trimmed = line.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith('#')) continue;
        const int space = trimmed.indexOf(' ');
        bool ok = false;
        const double ms = space > 0 ? trimmed.left(space).toDouble(&ok) : 0;
        if (!ok || !std::isfinite(ms) || ms < 0 || ms > 1e12)
            return fail(n, QStringLiteral("not a line of a trace: %1").arg(excerpt(line)));
        const qint64 at_ns = qint64(std::llround(ms * 1e6));
        const QByteArray body = trimmed.mid(space + 1).trimmed();
        const char kind = body.isEmpty() ? 0 : body.at(0);
        const QByteArray rest = body.mid(1).trimmed();

        if (kind == '*') continue; // the tool's own changes of task state
        if (kind == '[' && rest.isEmpty()) {
            if (open)
                return fail(n, QStringLiteral("an exchange begins inside the one begun on line %1")
                                   .arg(begun_at));
            open = seen_begin = true;
            begun_at = n;
            current = Exchange();
            has_request = written = has_reply = false;
            continue;
        }
        const bool tail = !open && !seen_begin; // of an exchange the file does not hold whole
        if (kind == '>') {
            QByteArray byte;
            written = !rest.endsWith("(non écrit)");
            const QByteArray hex_part =
                written ? rest : rest.left(rest.size() - int(qstrlen("(non écrit)"))).trimmed();
            if (!parse_bytes(hex_part, &byte) || byte.size() != 1)
                return fail(n,
                            QStringLiteral("a request is one byte in hex: %1").arg(excerpt(line)));
            if (tail) continue;
            if (!open) return fail(n, QStringLiteral("a request outside an exchange"));
            if (has_request)
                return fail(n, QStringLiteral("a second request in the exchange begun on line %1")
                                   .arg(begun_at));
            has_request = true;
            current.line = n;
            current.request = quint8(byte.at(0));
            current.at_ns = request_ns = at_ns;
            continue;
        }
        if (kind == '<') {
            const bool stale = rest.endsWith("(ignoré)");
            QByteArray bytes;
            if (!parse_bytes(stale ? rest.left(rest.size() - int(qstrlen("(ignoré)"))).trimmed()
                                   : rest,
                             &bytes))
                return fail(
                    n, QStringLiteral("bytes from the board are in hex: %1").arg(excerpt(line)));
            if (stale) {
                // Thrown away by the tool before its next request: they come after the last one
                // the board had, when the trace saw them. Before any request, they are no answer.
                if (exchanges_.isEmpty()) continue;
                Exchange& after = exchanges_.last();
                const qint64 from = at_ns - after.at_ns;
                if (incomplete == int(exchanges_.size()) - 1) {
                    // The start of a reply that came short: the tool found it there at its
                    // time-out, so it comes at once; the rest as the trace saw it.
                    after.out.last().bytes = bytes.left(1);
                    bytes.remove(0, 1);
                }
                incomplete = -1;
                if (!bytes.isEmpty()) after.out.append({std::max<qint64>(from, 0), bytes, false});
                continue;
            }
            if (tail) continue;
            if (!open || !has_request)
                return fail(n,
                            QStringLiteral("a reply outside an exchange, or before its request"));
            if (has_reply)
                return fail(n, QStringLiteral("a second reply in the exchange begun on line %1")
                                   .arg(begun_at));
            has_reply = true;
            current.out.append({std::max<qint64>(at_ns - request_ns, 0), bytes, false});
            continue;
        }
        if (kind == ']') {
            if (tail) continue;
            if (!open) return fail(n, QStringLiteral("an exchange ends that never began"));
            if (!has_request)
                return fail(
                    n,
                    QStringLiteral("the exchange begun on line %1 has no request").arg(begun_at));
            finish(rest, at_ns);
            continue;
        }
        return fail(n, QStringLiteral("not a line of a trace: %1").arg(excerpt(line)));
    }
    // A trace stopped in the middle of an exchange keeps what it saw of it.
    if (open && has_request) finish(QByteArray(), request_ns);
    if (exchanges_.isEmpty()) {
        *error = name + QStringLiteral(": no request to the board in this trace");
        return false;
    }
    return true;
}

void Replay::fill_lead_in(quint8 request, const QByteArray& fallback) {
    if (!lead_in_.count(request) && !fallback.isEmpty()) lead_in_[request] = fallback;
}

QList<Replay::Out> Replay::answer(quint8 byte) {
    if (ended_) return {};
    const Exchange& e = exchanges_.at(next_);
    if (byte == e.request) {
        if (++next_ == exchanges_.size()) {
            ended_ = true;
            say(QStringLiteral("%1:%2: the last request of the trace; the board is silent after "
                               "its answer")
                    .arg(name_)
                    .arg(e.line));
        }
        return e.out;
    }
    // A tool started before the trace was connects first.
    if (next_ == 0 && (byte == 0x01 || byte == 0x02 || byte == 0x08))
        if (const auto it = lead_in_.find(byte); it != lead_in_.end()) return {{0, it->second}};
    ended_ = true;
    say(QStringLiteral("%1:%2: expected %3, received %4 (request %5 of %6); the board answers "
                       "nothing from now on")
            .arg(name_)
            .arg(e.line)
            .arg(hex(e.request), hex(byte))
            .arg(next_ + 1)
            .arg(exchanges_.size()));
    return {};
}

void Replay::say(const QString& text) const {
    if (tell) tell(QStringLiteral("replay: ") + text);
}

} // namespace loopsim
