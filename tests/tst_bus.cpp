// The tool's bus work against the simulated board, on a port in memory (a real pseudo-terminal
// where the terminal is under test), as scenarios: the loop, the faults (the simulator's console
// commands), what the user does, the bytes the board receives and what the window shows. The
// scenarios are in bus.scenarios; the language is described at its top.
#include "addresses/search.h"
#include "app/bus_task.h"
#include "app/menus.h"
#include "app/shell.h"
#include "engine/tempo.h"
#include "support/harness.h"
#include "tools/loopsim/console.h"

#include <QFile>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QtTest>
#include <ctime>
#include <functional>

namespace {

// A scenario's lines, each with its number in the file.
using Scenario = QList<QPair<int, QString>>;

// Splits a line into words; a word in double quotes keeps its blanks, and \n in it is a newline.
QStringList split_words(const QString& line) {
    QStringList words;
    static const QRegularExpression word(QStringLiteral("\"((?:[^\"\\\\]|\\\\.)*)\"|(\\S+)"));
    for (auto it = word.globalMatch(line); it.hasNext();) {
        const auto m = it.next();
        words << (m.captured(0).startsWith('"') ? m.captured(1).replace("\\n", "\n")
                                                : m.captured(2));
    }
    return words;
}

int number(const QString& s) {
    bool ok = false;
    const int n = s.startsWith(QStringLiteral("0x")) ? s.mid(2).toInt(&ok, 16) : s.toInt(&ok);
    if (!ok) qFatal("not a number: %s", qPrintable(s));
    return n;
}

QString hex(int byte) {
    return QStringLiteral("%1").arg(byte, 2, 16, QLatin1Char('0'));
}

// A name with an optional index: Adr_Box(7), mode_of(3); the index is -1 without one.
std::pair<QString, int> name_and_index(const QString& s) {
    static const QRegularExpression re(QStringLiteral("^(\\w+)(?:\\((\\d+)\\))?$"));
    const auto m = re.match(s);
    return {m.captured(1), m.capturedLength(2) ? m.captured(2).toInt() : -1};
}

class Runner {
  public:
    explicit Runner(const QString& name) : name_(name) {}

    // Runs every line; false at the first that fails, with a message saying which and why.
    bool run(const Scenario& lines) {
        for (const auto& [at, text] : lines) {
            line_ = at;
            text_ = text;
            execute(split_words(text));
            if (!failure.isEmpty()) return false;
        }
        return true;
    }
    QString failure;

  private:
    // The first failure is the one told, a verb run from a byte's too.
    void fail(const QString& why) {
        if (failure.isEmpty())
            failure = QStringLiteral("bus.scenarios:%1 (%2): %3").arg(line_).arg(name_, why);
    }

    // The board starts with the first verb that is not `loop`. The conversation is logged as
    // text: a hex token per byte the board received, in order, and "P" where one of the tool's
    // paced pauses ended, so one comparison checks bytes and pauses.
    Harness& harness() {
        if (h_) return *h_;
        h_ = std::make_unique<Harness>(loop_, 1, !terminal_);
        console_ = std::make_unique<loopsim::Console>(h_->board, [](const QString&) {});
        QObject::connect(&h_->board, &loopsim::Board::byte_received, &context_, [this](quint8 b) {
            wire_ << hex(b);
            fire_on_byte(b);
        });
        QObject::connect(&h_->t.form.Tempo, &QTimer::timeout, &context_, [this] { wire_ << "P"; });
        // In memory, the tool's and the board's clocks run ten times faster unless the scenario
        // sets its own: the same bytes and pauses in a tenth of the time.
        if (!terminal_) set_clocks(10);
        return *h_;
    }
    void set_clocks(int divider) {
        set_clock_divider(h_->t, divider);
        h_->board.set_clock_divider(divider);
    }
    int bytes() const { return int(wire_.size() - wire_.count(QStringLiteral("P"))); }

    void fire_on_byte(quint8 b) {
        // Every verb waiting for this byte, in the order written, from inside the step that is
        // sending, before the board answers.
        for (int i = 0; i < on_byte_.size();) {
            if (on_byte_[i].first == b)
                execute(on_byte_.takeAt(i).second);
            else
                ++i;
        }
    }

    Control* control(const QString& s) {
        const auto [name, index] = name_and_index(s);
        for (Control* c : h_->t.form.all_controls())
            if (c->Name() == name && c->Index() == index) return c;
        return nullptr;
    }

    // The value a name reads: a state variable, one of the views below (some of one address:
    // mode_of(3)), or a control's property (Adr_Box(7).Caption).
    std::optional<QString> value_of(const QString& name) {
        Tool& t = h_->t;
        const Program_State& s = t.state;
        const Test_Dialogs& d = h_->dialogs;
        const auto [view, n] = name_and_index(name);
        const auto num = [](auto v) { return QString::number(int(v)); };
        const std::map<QString, std::function<QString()>> views = {
            {"Task_State", [&] { return num(s.Task_State); }},
            {"Connected", [&] { return num(bool(s.Connected)); }},
            {"Adr_Count", [&] { return num(s.Adr_Count); }},
            {"Sel_Adr", [&] { return num(s.Sel_Adr); }},
            {"Sensor_Mode", [&] { return num(s.Sensor_Mode); }},
            {"Led_Address", [&] { return num(s.Led_Address); }},
            {"Grid_Locked", [&] { return num(bool(s.Grid_Locked)); }},
            {"Simulation_Active", [&] { return num(bool(s.Simulation_Active)); }},
            {"Check_Lock", [&] { return num(bool(s.Check_Lock)); }},
            {"Com_Port", [&] { return num(s.Com_Port); }},
            {"Probe_Retries", [&] { return num(s.Probe_Retries); }},
            {"Phase_Code", [&] { return num(s.Phase_Code); }},
            {"bus_busy", [&] { return num(t.link.steps_holding()); }},
            {"port_open", [&] { return num(t.link.Comm1() && t.link.Comm1()->PortOpen()); }},
            {"pointer", [&] { return num(t.screen.MousePointer()); }},
            {"boxes", [&] { return num(d.messages.size()); }},
            {"sim_stops", // journal lines of a simulation stopped
             [&] {
                 return num(std::count_if(
                     t.record.events().begin(), t.record.events().end(),
                     [](const record::Event& e) { return e.text == "Simulation arrêtée"; }));
             }},
            {"box", [&] { return d.messages.isEmpty() ? QString() : d.messages.last().prompt; }},
            {"inputs", [&] { return num(d.presets.size()); }},
            {"preset", [&] { return d.presets.value(d.presets.size() - 1); }}, // the last offered
            {"settings", settings_file},
            {"panel", [&] { return panel(t); }},
            {"mixed", [&] { return mixed_.join("; "); }},
            {"grid", [&] { return grid(t); }},
            {"cells", [&] { return cells(t, n); }},
            // The mode the detector now runs in, its LED, what the loop record keeps of it.
            {"mode_of", [&] { return num(h_->board.loop().detectors[n].mode); }},
            {"led_of", [&] { return num(h_->board.loop().detectors[n].led); }},
            {"record", [&] { return record_of(t.record.at(n)); }},
            {"silences",
             [&] {
                 return QStringLiteral("%1 %2")
                     .arg(t.record.silences().size())
                     .arg(t.record.board_silent() ? "open" : "ended");
             }},
            {"mode_writes",
             [&] {
                 QStringList w;
                 for (const record::Mode_Write& m : t.record.mode_writes())
                     w << QStringLiteral("%1:%2>%3:%4")
                              .arg(m.address)
                              .arg(m.before)
                              .arg(m.after)
                              .arg(m.accepted ? "accepté" : "refusé");
                 return w.join(' ');
             }},
        };
        if (const auto it = views.find(view); it != views.end()) return it->second();
        const int dot = name.lastIndexOf('.');
        const Control* c = control(name.left(dot));
        const QString prop = name.mid(dot + 1);
        if (!c) return std::nullopt;
        if (prop == QLatin1String("Caption")) return c->Caption();
        if (prop == QLatin1String("Visible")) return num(c->Visible());
        if (prop == QLatin1String("Value")) return num(c->Value());
        if (prop == QLatin1String("ToolTipText")) return c->ToolTipText();
        if (prop == QLatin1String("BackColor"))
            return "0x" + QString::number(c->BackColor(), 16).rightJustified(6, '0').toUpper();
        return std::nullopt;
    }

    // The settings file, in hex.
    static QString settings_file() {
        QFile f(QStringLiteral("Kalvenor-2.cfg"));
        return f.open(QIODevice::ReadOnly) ? QString::fromLatin1(f.readAll().toHex(' '))
                                           : QStringLiteral("missing");
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
    // F9 and short-circuit labels, the task tick's period and the grid lock, as one text.
    static QString grid(const Tool& t) {
        int grey = 0, light = 0, blue = 0, unknown = 0, leds = 0;
        for (int n = 1; n <= 128; ++n) {
            const Bgr_Colour c = t.form.Adr_Box(n).BackColor();
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
            // On the design's clock, whatever the scenario's.
            t.form.Timer_Tache.isActive() ? t.form.Timer_Tache.interval() * 100 / clock_ms(t, 100)
                                          : 0,
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

    // Whether what `run until` waits for has come; nothing for a condition it does not know.
    std::optional<bool> reached(const QStringList& w) {
        const Tool& t = h_->t;
        const bool idle = t.state.Task_State == Task::Idle_Status;
        const QString what = w.value(0);
        if (what == QLatin1String("idle")) return idle && t.link.bus_free();
        if (what == QLatin1String("connected")) return idle && t.state.Connected;
        if (what == QLatin1String("disconnected")) return !t.state.Connected;
        if (what == QLatin1String("readout"))
            return idle && t.form.Led_On_Cde.Visible() &&
                   t.screen.MousePointer() == Screen_Pointer::Default;
        if (what == QLatin1String("state")) return t.state.Task_State == number(w.value(1));
        if (what == QLatin1String("bytes")) return bytes() >= number(w.value(1));
        if (what == QLatin1String("value")) return value_of(w.value(1)) == w.value(2);
        return std::nullopt;
    }

    // run until CONDITION [MSms]
    void run_until(QStringList what) {
        what.removeAll(QString());
        const int limit = what.size() > 1 && what.last().endsWith(QStringLiteral("ms"))
                              ? number(what.takeLast().chopped(2))
                              : 10000;
        if (!reached(what)) return fail(QStringLiteral("unknown condition ") + what.value(0));
        if (!h_->run_until([&] { return *reached(what); }, limit))
            fail(QStringLiteral("never came: ") + what.join(' ') + QStringLiteral("; line: ") +
                 wire_.join(' '));
    }

    // Wire tokens with the shorthands written out: %probes(PHASE,FROM,TO) the search probes,
    // %frames(CODE,FROM,TO) one frame CODE to each address (type reads 13, polls 10),
    // %readout(ADR,INDEX) what a readout of a detector of type index INDEX asks for.
    static QStringList expand(const QStringList& tokens) {
        static const QRegularExpression call(QStringLiteral("^%(\\w+)\\(([^)]*)\\)$"));
        QStringList out;
        const auto frame = [](int code, int adr) {
            return QStringList{"40", hex(code), hex(adr), "00"};
        };
        for (const QString& token : tokens) {
            const auto m = call.match(token);
            if (!m.hasMatch()) {
                out << (token == QLatin1String("P") ? token : token.toLower());
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
        if (doc.isObject() && loopsim::parse_loop(doc.object(), loop, &why)) return true;
        fail(QStringLiteral("bad loop: ") + why + error.errorString());
        return false;
    }

    void execute(const QStringList& w) {
        const QString verb = w.value(0);
        // The loop comes first, alone or after the verb that starts the board: start JSON.
        const bool starts = verb == QLatin1String("start") || verb == QLatin1String("load") ||
                            verb == QLatin1String("open");
        if (verb == QLatin1String("loop") || (starts && w.size() > 1)) {
            if (h_) return fail(QStringLiteral("the board has started already"));
            if (!parse_json(text_.mid(verb.size()), &loop_) || !starts) return;
        }
        if (verb == QLatin1String("terminal")) { // before the board starts: a real one
            if (h_) return fail(QStringLiteral("the board has started already"));
            terminal_ = true;
            return;
        }
        Harness& h = harness();
        Tool& t = h.t;
        const QStringList a = w.mid(1);
        const auto arg = [&a](int i) { return number(a.value(i)); };
        const auto with_control = [&](const std::function<void(Control&)>& act) {
            if (Control* c = control(a.value(0))) return act(*c);
            fail(QStringLiteral("no control ") + a.value(0));
        };
        const std::map<QString, std::function<void()>> verbs = {
            {"board", [&] { console_->execute(a.join(' ')); }},
            {"clock", [&] { set_clocks(arg(0)); }},
            {"link", [&] { QFile::link(QStringLiteral("nothing"), a.value(0)); }},
            {"forget_settings", [&] { QFile::remove(QStringLiteral("Kalvenor-2.cfg")); }},
            {"load", [&] { Form_Load(t); }},
            {"start",
             [&] {
                 Form_Load(t);
                 if (!h.run_until([&] { return *reached({"connected"}); }, 5000))
                     return fail(QStringLiteral("no connection"));
                 wire_.clear();
             }},
            {"open", // the port alone: the handlers wired, the task tick stopped, no load sequence
             [&] {
                 wire_handlers(t);
                 h.open();
                 t.form.Timer_Tache.stop();
                 h.board.clear_traffic();
                 wire_.clear();
             }},
            {"found", [&] { found(arg(0), a.mid(1)); }},
            {"cell", // cell ADR[-LAST] INDEX NAME: found, of that type
             [&] {
                 const QStringList range = a.value(0).split('-');
                 for (int adr = number(range[0]); adr <= number(range.last()); ++adr) {
                     t.state.Adr_Type[adr - 1] = uint8_t(arg(1));
                     t.type_sight[adr - 1] = t.board.sight();
                     t.form.Adr_Box(adr).set_caption(cell_caption(adr, a.value(2)));
                     t.record.set_type(adr, 0, a.value(2));
                 }
             }},
            {"dirty", [&] { dirty(t); }},
            {"read", // read ADR [MSms]: a click on the cell, and its readout to the end
             [&] {
                 t.form.Adr_Box(arg(0)).click();
                 run_until({"value", "Sel_Adr", QString::number(arg(0)), a.value(1)});
                 run_until({"readout", a.value(1)});
             }},
            {"search", // search [MSms]: a click on the button, and the search to its end
             [&] {
                 t.form.Start_Bus_Cmd.click();
                 run_until({"value", "Start_Bus_Cmd.Visible", "1", a.value(0)});
                 run_until({"idle"});
             }},
            {"show", [&] { with_control([&](Control& c) { c.set_visible(arg(1) != 0); }); }},
            {"click",
             [&] {
                 with_control([](Control& c) {
                     if (c.kind() == Control_Kind::Check || c.kind() == Control_Kind::Option)
                         c.set_value(c.kind() == Control_Kind::Check && c.Value() ? 0 : 1);
                     else
                         c.click();
                 });
             }},
            {"key",
             [&] {
                 static const std::map<QString, int> keys = {
                     {"F5", 0x74}, {"F6", 0x75}, {"F9", 0x78}, {"Escape", 0x1B}, {"V", 0x56}};
                 Form_KeyDown(t, keys.at(a.value(0)), a.contains("shift") ? 1 : 0);
             }},
            {"set", // set NAME N: a few state variables
             [&] {
                 const int v = arg(1);
                 const std::map<QString, std::function<void()>> vars = {
                     {"Sel_Adr", [&] { t.state.Sel_Adr = uint8_t(v); }},
                     {"Task_State", [&] { set_task(t.state, int16_t(v)); }},
                     {"Com_Port", [&] { t.state.Com_Port = uint8_t(v); }}};
                 if (const auto it = vars.find(a.value(0)); it != vars.end()) return it->second();
                 fail(QStringLiteral("cannot set ") + a.value(0));
             }},
            {"step", // step [N]
             [&] {
                 for (int n = a.isEmpty() ? 1 : arg(0); n > 0; --n)
                     Bus_Task(t);
             }},
            {"answer", [&] { h.dialogs.answers << a; }},
            {"on", [&] { on_byte_ << qMakePair(quint8(arg(0)), a.mid(1)); }},
            {"mark", [&] { wire_.clear(); }},
            {"put", // detectors replaced on the running board
             [&] {
                 loopsim::Loop change;
                 change.detectors.clear();
                 if (parse_json(text_.mid(3), &change))
                     for (const auto& [adr, d] : change.detectors)
                         h.board.loop().detectors[adr] = d;
             }},
            {"forbid", [&] { forbid(t.form, a.value(0), a.mid(1)); }},
            {"quiet", // the main loop runs MS with little CPU
             [&] {
                 const std::clock_t before = std::clock();
                 h.run_for(arg(0));
                 const double share =
                     double(std::clock() - before) / CLOCKS_PER_SEC * 1000 / arg(0);
                 if (share > 0.3) fail(QStringLiteral("CPU share %1").arg(share));
             }},
            {"run",
             [&] {
                 if (a.value(0) != QLatin1String("until")) return h.run_for(arg(0));
                 run_until(a.mid(1));
             }},
            {"wire",
             [&] {
                 const QStringList want = expand(a);
                 // An empty line waits the whole time for a byte that must not come: as long as
                 // three reply time-outs on the tool's clock.
                 const int n = std::max(1, int(want.size() - want.count(QStringLiteral("P"))));
                 h.run_until([&] { return bytes() >= n; }, clock_ms(t, 6000));
                 QTest::qWait(20); // a byte too many would show here
                 if (wire_ != want)
                     return fail(QStringLiteral("line\n  got  %1\n  want %2")
                                     .arg(wire_.join(' '), want.join(' ')));
                 wire_.clear();
             }},
            {"absent", // absent TOKENS: not in the log since the mark
             [&] {
                 const QString unwanted = expand(a).join(' ');
                 if (wire_.join(' ').contains(unwanted))
                     fail(QStringLiteral("%1 on the line: %2").arg(unwanted, wire_.join(' ')));
             }},
            {"expect", // expect NAME VALUE [NAME VALUE]..
             [&] {
                 if (a.isEmpty() || a.size() % 2) return fail(QStringLiteral("expect pairs"));
                 for (int i = 0; i < a.size(); i += 2) {
                     const auto got = value_of(a[i]);
                     if (!got)
                         fail(QStringLiteral("nothing named ") + a[i]);
                     else if (*got != a[i + 1])
                         fail(QStringLiteral("%1 is \"%2\", not \"%3\"").arg(a[i], *got, a[i + 1]));
                 }
             }},
        };
        if (const auto it = verbs.find(verb); it != verbs.end()) return it->second();
        fail(QStringLiteral("unknown verb ") + verb);
    }

    // The grid as a search leaves it: addresses 1..n found, with the type indexes given (2 for
    // the rest), and the simulation button shown.
    void found(int n, const QStringList& types) {
        Tool& t = h_->t;
        t.state.Adr_Count = uint8_t(n);
        for (int a = 1; a <= n; ++a) {
            t.state.Adr_Type[a - 1] = uint8_t(types.size() >= a ? number(types[a - 1]) : 2);
            t.type_sight[a - 1] = t.board.sight();
            t.form.Adr_Box(a).set_back_color(0x00FF8080);
        }
        t.form.Adr_Status_Cde.set_visible(true);
    }

    // What an earlier search and readout leave behind.
    static void dirty(Tool& t) {
        for (int n = 1; n <= 128; ++n) {
            t.state.Adr_Type[n - 1] = 1;
            t.form.Adr_Box(n).set_caption(
                QStringLiteral("%1\nKOR").arg(n, 3, 10, QLatin1Char('0')));
            t.form.Adr_Box(n).set_back_color(0x00FF8080);
            t.form.Led_Shp(n).set_visible(true);
        }
        t.form.Adr_Status_Cde.set_visible(true);
        t.form.Cc_Lbl.set_visible(true);
    }

    // forbid CAPTION VALUES..: none of the values is ever shown under that caption.
    void forbid(Bus_Form& f, const QString& caption, const QStringList& values) {
        const auto check = [this, &f, caption, values] {
            if (f.Status_Frame.Caption() != caption) return;
            for (int r = 0; r <= 15; ++r)
                if (f.Value_Lbl(r).Visible() && values.contains(f.Value_Lbl(r).Caption()))
                    mixed_ << caption + ": " + f.Value_Lbl(r).Caption();
        };
        QObject::connect(&f.Status_Frame, &Control::changed, &f, check);
        for (int r = 0; r <= 15; ++r)
            QObject::connect(&f.Value_Lbl(r), &Control::changed, &f, check);
    }

    QString name_;
    int line_ = 0;
    QString text_;
    loopsim::Loop loop_ = loopsim::default_loop();
    bool terminal_ = false;
    QStringList wire_; // the conversation since the mark
    QList<QPair<quint8, QStringList>> on_byte_;
    QStringList mixed_;
    std::unique_ptr<Harness> h_;
    std::unique_ptr<loopsim::Console> console_;
    QObject context_; // of the log's connections: gone first, so the board's end logs nothing
};

} // namespace

class Tst_Bus : public QObject {
    Q_OBJECT

  private slots:
    void scenario_data() {
        QTest::addColumn<Scenario>("lines");
        QFile file(QStringLiteral(KAL_SCENARIOS));
        QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
        const QStringList lines = QString::fromUtf8(file.readAll()).split('\n');
        QList<QPair<QString, Scenario>> scenarios;
        for (int i = 0; i < lines.size(); ++i) {
            const QString line = lines[i].trimmed();
            if (line.startsWith(QStringLiteral("==")))
                scenarios.append({line.mid(2).trimmed(), {}});
            else if (!line.isEmpty() && !line.startsWith('#') && !scenarios.isEmpty())
                for (const QString& verb : line.split(QStringLiteral(" ; ")))
                    scenarios.last().second.append({i + 1, verb});
        }
        // KAL_SCENARIO: only the scenarios whose name starts with it (a group: "search:").
        const QString only = qEnvironmentVariable("KAL_SCENARIO");
        int rows = 0;
        for (const auto& [name, body] : scenarios)
            if (name.startsWith(only)) {
                QTest::newRow(qPrintable(name)) << body;
                ++rows;
            }
        QVERIFY2(rows > 0, "no scenario in this group");
    }

    void scenario() {
        QFETCH(Scenario, lines);
        Runner runner(QString::fromUtf8(QTest::currentDataTag()));
        QVERIFY2(runner.run(lines), qPrintable(runner.failure));
    }
};

QTEST_GUILESS_MAIN(Tst_Bus)
#include "tst_bus.moc"
