// The tool's bus work against the simulated board on a real pseudo-terminal, as scenarios: the
// loop, the faults (the simulator's console commands), what the user does, the bytes the board
// receives and what the window shows. The scenarios are in bus.scenarios; the language is
// described at its top.
#include "app/menus.h"
#include "app/shell.h"
#include "engine/tempo.h"
#include "support/harness.h"
#include "tools/loopsim/console.h"

#include <QFile>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QtTest>
#include <functional>
#include <sys/resource.h>

namespace {

struct Line_Of_Scenario {
    int number;
    QStringList words;
    QString text;
};

// Splits a line into words; a word in double quotes keeps its blanks, and \n in it is a newline.
QStringList split_words(const QString& line) {
    QStringList words;
    static const QRegularExpression word(QStringLiteral("\"((?:[^\"\\\\]|\\\\.)*)\"|(\\S+)"));
    for (auto it = word.globalMatch(line); it.hasNext();) {
        const auto m = it.next();
        if (m.capturedLength(1) || m.captured(0).startsWith('"'))
            words << m.captured(1).replace(QStringLiteral("\\n"), QStringLiteral("\n"));
        else
            words << m.captured(2);
    }
    return words;
}

double cpu_seconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

int number(const QString& s) {
    bool ok = false;
    const int n = s.startsWith(QStringLiteral("0x")) ? s.mid(2).toInt(&ok, 16) : s.toInt(&ok);
    if (!ok) qFatal("not a number: %s", qPrintable(s));
    return n;
}

// The conversation as text: a hex token per byte the board received, in order, and "P" where one
// of the tool's paced pauses ended, so one comparison checks bytes and pauses.
class Wire_Log {
  public:
    explicit Wire_Log(Harness& h) {
        QObject::connect(&h.board, &loopsim::Board::byte_received, &context_, [this](quint8 b) {
            tokens_ << QStringLiteral("%1").arg(b, 2, 16, QLatin1Char('0'));
            if (on_byte) on_byte(b);
        });
        QObject::connect(&h.t.form.Tempo, &QTimer::timeout, &context_, [this] { tokens_ << "P"; });
    }
    void clear() { tokens_.clear(); }
    int bytes() const { return int(tokens_.size()) - int(tokens_.count(QStringLiteral("P"))); }
    QString text() const { return tokens_.join(QLatin1Char(' ')); }
    std::function<void(quint8)> on_byte;

  private:
    QObject context_;
    QStringList tokens_;
};

class Runner {
  public:
    explicit Runner(const QString& name) : name_(name) {}

    // Runs every line; false at the first that fails, with a message saying which and why.
    bool run(const QList<Line_Of_Scenario>& lines) {
        for (const Line_Of_Scenario& line : lines) {
            line_ = line.number;
            text_ = line.text;
            if (!execute(line.words)) return false;
            if (!deferred_.isEmpty()) {
                failure = deferred_;
                return false;
            }
        }
        return true;
    }
    QString failure;

  private:
    bool fail(const QString& why) {
        failure = QStringLiteral("bus.scenarios:%1 (%2): %3").arg(line_).arg(name_, why);
        return false;
    }

    Harness& harness() {
        if (!h_) {
            h_ = std::make_unique<Harness>(loop_);
            console_ = std::make_unique<loopsim::Console>(h_->board, [](const QString&) {});
            log_ = std::make_unique<Wire_Log>(*h_);
            log_->on_byte = [this](quint8 b) { fire_on_byte(b); };
        }
        return *h_;
    }

    void fire_on_byte(quint8 b) {
        // Every verb waiting for this byte, in the order written, from inside the step that is
        // sending, before the board answers.
        for (int i = 0; i < on_byte_.size();) {
            if (on_byte_[i].first != b) {
                ++i;
                continue;
            }
            const QStringList verb = on_byte_.takeAt(i).second;
            if (!execute(verb) && deferred_.isEmpty()) deferred_ = failure;
        }
    }

    Control* control(const QString& name_and_index) {
        static const QRegularExpression re(QStringLiteral("^(\\w+)(?:\\((\\d+)\\))?$"));
        const auto m = re.match(name_and_index);
        if (!m.hasMatch()) return nullptr;
        const int index = m.capturedLength(2) ? m.captured(2).toInt() : -1;
        for (Control* c : harness().t.form.all_controls())
            if (c->Name() == m.captured(1) && c->Index() == index) return c;
        return nullptr;
    }

    // The value a name reads: a state variable, or a control's property (Adr_Box(7).Caption).
    std::optional<QString> value_of(const QString& name) {
        Tool& t = harness().t;
        const Program_State& s = t.state;
        const std::map<QString, std::function<int()>> state = {
            {"Task_State", [&] { return int(s.Task_State); }},
            {"Connected", [&] { return int(bool(s.Connected)); }},
            {"Adr_Count", [&] { return int(s.Adr_Count); }},
            {"Sel_Adr", [&] { return int(s.Sel_Adr); }},
            {"Sensor_Mode", [&] { return int(s.Sensor_Mode); }},
            {"Led_Address", [&] { return int(s.Led_Address); }},
            {"Grid_Locked", [&] { return int(bool(s.Grid_Locked)); }},
            {"Simulation_Active", [&] { return int(bool(s.Simulation_Active)); }},
            {"Check_Lock", [&] { return int(bool(s.Check_Lock)); }},
            {"Com_Port", [&] { return int(s.Com_Port); }},
            {"Probe_Retries", [&] { return int(s.Probe_Retries); }},
            {"Phase_Code", [&] { return int(s.Phase_Code); }},
            {"boxes", [&] { return int(h_->dialogs.messages.size()); }},
            {"inputs", [&] { return int(h_->dialogs.inputs.size()); }},
            {"port_open", [&] { return int(t.link.Comm1() && t.link.Comm1()->PortOpen()); }},
        };
        if (auto it = state.find(name); it != state.end()) return QString::number(it->second());
        if (name == QLatin1String("panel")) return panel(t);
        if (name == QLatin1String("mixed")) return mixed_.join("; ");
        if (name == QLatin1String("pointer")) return QString::number(t.screen.MousePointer());
        if (name == QLatin1String("settings")) { // the settings file, in hex
            QFile f(QStringLiteral("Kalvenor-2.cfg"));
            return f.open(QIODevice::ReadOnly) ? QString::fromLatin1(f.readAll().toHex(' '))
                                               : QStringLiteral("missing");
        }
        if (name == QLatin1String("bus_busy")) return QString::number(t.link.bus_busy);
        if (name.startsWith(QStringLiteral("mode_of("))) // the mode the detector now runs in
            return QString::number(h_->board.loop().detectors[number(name.mid(8).chopped(1))].mode);
        if (name.startsWith(QStringLiteral("led_of(")))
            return QString::number(
                int(h_->board.loop().detectors[number(name.mid(7).chopped(1))].led));
        if (name.startsWith(QStringLiteral("record("))) // what the loop record keeps of one address
            return record_of(t.record.at(number(name.mid(7).chopped(1))));
        if (name == QLatin1String("grid")) return grid(t);
        if (name.startsWith(QStringLiteral("cells"))) return cells(t, number(name.mid(5)));
        if (name == QLatin1String("preset")) // what the last input box offered
            return h_->dialogs.inputs.isEmpty() ? QString() : h_->dialogs.inputs.last().preset;
        if (name == QLatin1String("box"))
            return h_->dialogs.messages.isEmpty() ? QString() : h_->dialogs.messages.last().prompt;
        const int dot = name.lastIndexOf('.');
        Control* c = control(name.left(dot));
        if (!c) return std::nullopt;
        const QString prop = name.mid(dot + 1);
        if (prop == QLatin1String("Caption")) return c->Caption();
        if (prop == QLatin1String("Visible")) return QString::number(int(c->Visible()));
        if (prop == QLatin1String("Value")) return QString::number(c->Value());
        if (prop == QLatin1String("BackColor"))
            return QStringLiteral("0x") +
                   QStringLiteral("%1").arg(c->BackColor(), 6, 16, QLatin1Char('0')).toUpper();
        return std::nullopt;
    }

    static QString record_of(const record::Detector& d) {
        QStringList params;
        for (const auto& [code, value] : d.params)
            params << QStringLiteral("%1=%2").arg(code).arg(value);
        return QStringList{d.found ? d.type_name : QStringLiteral("-"),
                           record::readout_text(d.readout),
                           record::version_text(d.pcb_version),
                           record::version_text(d.soft_version),
                           d.serial,
                           params.join(','),
                           QStringLiteral("alarms %1 faults %2 com %3 led %4")
                               .arg(d.alarms.count)
                               .arg(d.point_faults.count)
                               .arg(d.com_faults.count)
                               .arg(int(d.led_on))}
            .join('|');
    }

    // The panel's caption, the values of its shown rows and, when shown, the two boxes and the
    // sensing mode they stand for.
    static QString panel(const Tool& t) {
        const Bus_Form& f = t.form;
        QStringList values;
        for (int r = 0; r <= 15; ++r) {
            if (f.Value_Lbl(r).Visible() != f.Param_Lbl(r).Visible()) values << "half-shown row";
            if (f.Value_Lbl(r).Visible()) values << f.Value_Lbl(r).Caption();
        }
        QString text = f.Status_Frame.Caption() + ": " + values.join('|');
        if (f.Opto_Check.Visible() && f.Thermo_Check.Visible() && f.Picture1.Visible() &&
            f.Picture2.Visible())
            text += QStringLiteral(" boxes %1%2 mode %3")
                        .arg(f.Opto_Check.Value())
                        .arg(f.Thermo_Check.Value())
                        .arg(t.state.Sensor_Mode);
        return text;
    }

    // Cell colours (grey, light grey, blue), cells still "???" with type 0, LED marks, the search,
    // F9 and short-circuit labels, the task tick and the grid lock, as one text.
    static QString grid(const Tool& t) {
        int grey = 0, light = 0, blue = 0, unknown = 0, leds = 0;
        for (int n = 1; n <= 128; ++n) {
            const Vb_Color c = t.form.Adr_Box(n).BackColor();
            grey += c == 0x00C0C0C0;
            light += c == 0x00E0E0E0;
            blue += c == 0x00FF8080;
            unknown +=
                t.form.Adr_Box(n).Caption().endsWith("\n???") && t.state.Adr_Type[n - 1] == 0;
            leds += t.form.Led_Shp(n).Visible();
        }
        return QString::asprintf(
            "grey %d light %d blue %d unknown %d leds %d buttons %d%d%d tick %d locked %d", grey,
            light, blue, unknown, leds, t.form.Start_Bus_Cmd.Visible(),
            t.form.Adr_Status_Cde.Visible(), t.form.Cc_Lbl.Visible(),
            t.form.Timer_Tache.isActive() ? t.form.Timer_Tache.interval() : 0,
            bool(t.state.Grid_Locked));
    }

    // Name and type index of cells 1..n: "KOR:1 ZEPHA:2".
    static QString cells(const Tool& t, int n) {
        QStringList shown;
        for (int a = 1; a <= n; ++a)
            shown << t.form.Adr_Box(a).Caption().mid(4) + ':' +
                         QString::number(t.state.Adr_Type[a - 1]);
        return shown.join(' ');
    }

    std::function<bool()> condition(const QStringList& w) {
        Tool& t = harness().t;
        const QString what = w.value(0);
        if (what == QLatin1String("idle"))
            return [&t] { return t.state.Task_State == Task::Idle_Status && t.link.bus_free(); };
        if (what == QLatin1String("connected"))
            return [&t] { return t.state.Task_State == Task::Idle_Status && t.state.Connected; };
        if (what == QLatin1String("disconnected")) return [&t] { return !t.state.Connected; };
        if (what == QLatin1String("state")) {
            const int n = number(w.value(1));
            return [&t, n] { return t.state.Task_State == n; };
        }
        if (what == QLatin1String("bytes")) {
            const int n = number(w.value(1));
            return [this, n] { return log_->bytes() >= n; };
        }
        if (what == QLatin1String("readout"))
            return [&t] {
                return t.state.Task_State == Task::Idle_Status && t.form.Led_On_Cde.Visible() &&
                       t.screen.MousePointer() == Screen_Pointer::Default;
            };
        if (what == QLatin1String("value")) { // value NAME VALUE
            const QString name = w.value(1), want = w.value(2);
            return [this, name, want] { return value_of(name) == want; };
        }
        return {};
    }

    // The grid as a search leaves it: addresses 1..n found, with the type indexes given (2 for
    // the rest), and the simulation button shown.
    void found(int n, const QStringList& types) {
        Tool& t = harness().t;
        t.state.Adr_Count = uint8_t(n);
        for (int a = 1; a <= n; ++a) {
            t.state.Adr_Type[a - 1] = uint8_t(types.size() >= a ? number(types[a - 1]) : 2);
            t.type_epoch[a - 1] = t.board_epoch;
            t.form.Adr_Box(a).set_back_color(0x00FF8080);
        }
        t.form.Adr_Status_Cde.set_visible(true);
    }

    // Wire tokens with the shorthands written out: %probes(PHASE,FROM,TO) the search probes,
    // %frames(CODE,FROM,TO) one frame CODE to each address (type reads 13, polls 10),
    // %readout(ADR,INDEX) what a readout of a detector of type index INDEX asks for.
    static QStringList expand(const QStringList& tokens) {
        static const QRegularExpression call(QStringLiteral("^%(\\w+)\\(([^)]*)\\)$"));
        QStringList out;
        const auto hex = [](int v) { return QStringLiteral("%1").arg(v, 2, 16, QLatin1Char('0')); };
        const auto frame = [&](int code, int adr) {
            return QStringList{"40", hex(code), hex(adr), "00"};
        };
        for (const QString& token : tokens) {
            const auto m = call.match(token);
            if (!m.hasMatch()) {
                out << token;
                continue;
            }
            QList<int> a;
            for (const QString& arg : m.captured(2).split(','))
                a << number(arg.trimmed());
            const QString f = m.captured(1);
            if (f == QLatin1String("probes")) {
                for (int adr = a[1]; adr <= a[2]; ++adr)
                    out << "41" << hex(0x80 + a[0]) << hex(adr) << "01";
            } else if (f == QLatin1String("frames")) {
                for (int adr = a[1]; adr <= a[2]; ++adr)
                    out << frame(a[0], adr);
            } else if (f == QLatin1String("readout")) {
                QList<int> codes = {0x14, 0x15, 0x08, 0x09, 0x0A, 0x0B};
                if (a[1] == 1 || a[1] == 3)
                    codes << QList<int>{0x0C, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x0F};
                if (a[1] == 3) codes << 0x18;
                for (int i = 0; i < codes.size(); ++i)
                    out << (i ? QStringList{"P"} : QStringList{}) << frame(codes[i], a[0]);
            } else {
                qFatal("unknown shorthand %s", qPrintable(token));
            }
        }
        return out;
    }

    // The rest of the line, in the simulator's loop file format, into `loop`.
    bool parse_json(const QString& text, loopsim::Loop* loop) {
        QJsonParseError error{};
        const QJsonDocument doc = QJsonDocument::fromJson(text.toUtf8(), &error);
        QString why;
        if (!doc.isObject() || !loopsim::parse_loop(doc.object(), loop, &why))
            return fail(QStringLiteral("bad loop: ") + why + error.errorString());
        return true;
    }

    bool execute(const QStringList& w) {
        const QString verb = w.value(0);
        const QStringList args = w.mid(1);
        if (verb == QLatin1String("loop")) {
            if (h_) return fail(QStringLiteral("the board has started already"));
            return parse_json(text_.mid(4), &loop_);
        }
        if (verb == QLatin1String("put")) { // put JSON: detectors replaced on the running board
            loopsim::Loop change;
            change.detectors.clear();
            if (!parse_json(text_.mid(3), &change)) return false;
            for (const auto& [adr, d] : change.detectors)
                harness().board.loop().detectors[adr] = d;
            return true;
        }
        if (verb == QLatin1String("board")) {
            harness();
            console_->execute(args.join(' '));
            return true;
        }
        if (verb == QLatin1String("clock")) {
            set_clock_divider(harness().t, number(args.value(0)));
            return true;
        }
        if (verb == QLatin1String("start") || verb == QLatin1String("load")) {
            harness().load();
            if (verb == QLatin1String("load")) return true;
            if (!h_->run_until(condition({"connected"}), 5000)) return fail("no connection");
            log_->clear();
            return true;
        }
        if (verb == QLatin1String("open")) { // the port alone, with no load sequence
            harness().open_quiet();
            log_->clear();
            return true;
        }
        if (verb == QLatin1String("found")) {
            found(number(args.value(0)), args.mid(1));
            return true;
        }
        if (verb == QLatin1String("cell")) { // cell ADR INDEX NAME: found, of that type
            Tool& t = harness().t;
            const int adr = number(args.value(0));
            t.state.Adr_Type[adr - 1] = uint8_t(number(args.value(1)));
            t.type_epoch[adr - 1] = t.board_epoch;
            t.form.Adr_Box(adr).set_caption(
                QStringLiteral("%1\n").arg(adr, 3, 10, QLatin1Char('0')) + args.value(2));
            return true;
        }
        if (verb == QLatin1String("dirty")) { // what an earlier search and readout leave behind
            Tool& t = harness().t;
            for (int n = 1; n <= 128; ++n) {
                t.state.Adr_Type[n - 1] = 1;
                t.form.Adr_Box(n).set_caption(
                    QStringLiteral("%1\nKOR").arg(n, 3, 10, QLatin1Char('0')));
                t.form.Adr_Box(n).set_back_color(0x00FF8080);
                t.form.Led_Shp(n).set_visible(true);
            }
            t.form.Adr_Status_Cde.set_visible(true);
            t.form.Cc_Lbl.set_visible(true);
            return true;
        }
        if (verb == QLatin1String("show")) { // show CONTROL 0|1
            Control* c = control(args.value(0));
            if (!c) return fail(QStringLiteral("no control ") + args.value(0));
            c->set_visible(number(args.value(1)) != 0);
            return true;
        }
        if (verb == QLatin1String("link")) { // link NAME: NAME in the run's directory, to nothing
            harness();
            QFile::link(QStringLiteral("nothing"), args.value(0));
            return true;
        }
        if (verb == QLatin1String("quiet")) { // quiet MS: the main loop runs MS with little CPU
            Harness& h = harness();
            const double before = cpu_seconds();
            QElapsedTimer clock;
            clock.start();
            h.run_for(number(args.value(0)));
            const double share = (cpu_seconds() - before) / (double(clock.elapsed()) / 1000.0);
            if (share > 0.3) return fail(QStringLiteral("CPU share %1").arg(share));
            return true;
        }
        if (verb == QLatin1String("forget_settings")) {
            harness();
            QFile::remove(QStringLiteral("Kalvenor-2.cfg"));
            return true;
        }
        if (verb == QLatin1String("boardclock")) {
            harness().board.set_clock_divider(number(args.value(0)));
            return true;
        }
        if (verb == QLatin1String("forbid")) { // forbid CAPTION VALUES..: never shown together
            Bus_Form& f = harness().t.form;
            const QString caption = args.value(0);
            const QStringList values = args.mid(1);
            const auto check = [this, &f, caption, values] {
                if (f.Status_Frame.Caption() != caption) return;
                for (int r = 0; r <= 15; ++r)
                    if (f.Value_Lbl(r).Visible() && values.contains(f.Value_Lbl(r).Caption()))
                        mixed_ << caption + ": " + f.Value_Lbl(r).Caption();
            };
            QObject::connect(&f.Status_Frame, &Control::changed, &f, check);
            for (int r = 0; r <= 15; ++r)
                QObject::connect(&f.Value_Lbl(r), &Control::changed, &f, check);
            return true;
        }
        if (verb == QLatin1String("set")) { // set NAME VALUE: a few state variables
            Program_State& s = harness().t.state;
            const int v = number(args.value(1));
            const QString& n = args.value(0);
            if (n == QLatin1String("Sel_Adr"))
                s.Sel_Adr = uint8_t(v);
            else if (n == QLatin1String("Task_State"))
                s.Task_State = int16_t(v);
            else if (n == QLatin1String("Adr_Count"))
                s.Adr_Count = uint8_t(v);
            else if (n == QLatin1String("Simulation_Active"))
                s.Simulation_Active = v != 0;
            else if (n == QLatin1String("Com_Port"))
                s.Com_Port = uint8_t(v);
            else if (n == QLatin1String("Connected"))
                s.Connected = v != 0;
            else
                return fail(QStringLiteral("cannot set ") + n);
            return true;
        }
        if (verb == QLatin1String("click")) {
            Control* c = control(args.value(0));
            if (!c) return fail(QStringLiteral("no control ") + args.value(0));
            if (c->kind() == Control_Kind::Check || c->kind() == Control_Kind::Option)
                c->set_value(c->kind() == Control_Kind::Check && c->Value() ? 0 : 1);
            else
                c->click();
            return true;
        }
        if (verb == QLatin1String("key")) {
            static const std::map<QString, int> keys = {
                {"F5", 0x74}, {"F6", 0x75}, {"F9", 0x78}, {"Escape", 0x1B}, {"V", 0x56}};
            Form_KeyDown(harness().t, keys.at(args.value(0)), args.contains("shift") ? 1 : 0);
            return true;
        }
        if (verb == QLatin1String("step")) {
            harness().step();
            return true;
        }
        if (verb == QLatin1String("answer")) {
            harness().dialogs.answers << args.value(0);
            return true;
        }
        if (verb == QLatin1String("on")) { // on BYTE VERB...: once, when the board receives BYTE
            on_byte_.append({quint8(number(args.value(0))), args.mid(1)});
            return true;
        }
        if (verb == QLatin1String("mark")) {
            harness();
            log_->clear();
            return true;
        }
        if (verb == QLatin1String("run")) {
            Harness& h = harness();
            if (args.value(0) != QLatin1String("until")) {
                h.run_for(number(args.value(0)));
                return true;
            }
            const auto pred = condition(args.mid(1));
            if (!pred) return fail(QStringLiteral("unknown condition ") + args.value(1));
            const int limit = args.size() > 2 && args.last().endsWith(QStringLiteral("ms"))
                                  ? number(args.last().chopped(2))
                                  : 10000;
            if (!h.run_until(pred, limit))
                return fail(QStringLiteral("never came: ") + args.mid(1).join(' ') +
                            QStringLiteral("; line: ") + log_->text());
            return true;
        }
        if (verb == QLatin1String("wire")) {
            QString want = expand(args).join(' ').toLower();
            want.replace(QStringLiteral(" p"), QStringLiteral(" P"));
            if (want.startsWith(QStringLiteral("p"))) want[0] = 'P';
            harness().run_until(
                [&] { return log_->bytes() >= want.count(' ') + 1 - int(want.count('P')); }, 6000);
            QTest::qWait(20); // a byte too many would show here
            if (log_->text() != want)
                return fail(QStringLiteral("line\n  got  %1\n  want %2").arg(log_->text(), want));
            log_->clear();
            return true;
        }
        if (verb == QLatin1String("absent")) { // absent TOKENS: not in the log since the mark
            const QString unwanted = expand(args).join(' ').toLower();
            if (log_->text().contains(unwanted))
                return fail(QStringLiteral("%1 on the line: %2").arg(unwanted, log_->text()));
            return true;
        }
        if (verb == QLatin1String("expect")) { // expect NAME VALUE
            const auto got = value_of(args.value(0));
            if (!got) return fail(QStringLiteral("nothing named ") + args.value(0));
            if (*got != args.value(1))
                return fail(QStringLiteral("%1 is \"%2\", not \"%3\"")
                                .arg(args.value(0), *got, args.value(1)));
            return true;
        }
        return fail(QStringLiteral("unknown verb ") + verb);
    }

    QString name_;
    int line_ = 0;
    QString text_;
    loopsim::Loop loop_ = loopsim::default_loop();
    std::unique_ptr<Harness> h_;
    std::unique_ptr<loopsim::Console> console_;
    std::unique_ptr<Wire_Log> log_;
    QList<QPair<quint8, QStringList>> on_byte_;
    QStringList mixed_;
    QString deferred_; // the first failure of a verb run from a byte
};

} // namespace

Q_DECLARE_METATYPE(QList<Line_Of_Scenario>)

class Tst_Bus : public QObject {
    Q_OBJECT

  private slots:
    void scenario_data() {
        QTest::addColumn<QList<Line_Of_Scenario>>("lines");
        QFile file(QStringLiteral(KAL_SCENARIOS));
        QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
        const QStringList lines = QString::fromUtf8(file.readAll()).split('\n');
        // KAL_SCENARIO: only the scenarios whose name starts with it (a group: "search:").
        const QByteArray only = qgetenv("KAL_SCENARIO");
        QString name;
        QList<Line_Of_Scenario> body;
        int rows = 0;
        const auto add = [&] {
            if (name.isEmpty() || !(only.isEmpty() || name.startsWith(QString::fromUtf8(only))))
                return;
            QTest::newRow(qPrintable(name)) << body;
            ++rows;
        };
        for (int i = 0; i < lines.size(); ++i) {
            const QString line = lines[i].trimmed();
            if (line.isEmpty() || line.startsWith('#')) continue;
            if (line.startsWith(QStringLiteral("=="))) {
                add();
                name = line.mid(2).trimmed();
                body.clear();
                continue;
            }
            body.append({i + 1, split_words(line), line});
        }
        add();
        QVERIFY2(rows > 0, "no scenario in this group");
    }

    void scenario() {
        QFETCH(QList<Line_Of_Scenario>, lines);
        Runner runner(QString::fromUtf8(QTest::currentDataTag()));
        QVERIFY2(runner.run(lines), qPrintable(runner.failure));
    }
};

QTEST_GUILESS_MAIN(Tst_Bus)
#include "tst_bus.moc"
