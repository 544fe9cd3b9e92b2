#include "addresses/search.h"

#include "addresses/read_all.h"
#include "engine/requests.h"
#include "engine/tempo.h"
#include "model/tool.h"

namespace {

constexpr Bgr_Colour Cell_Grey = RGB(192, 192, 192);
constexpr Bgr_Colour Cell_Searching = RGB(224, 224, 224);
constexpr Bgr_Colour Cell_Found = RGB(128, 128, 255);

enum Step : uint8_t { Second_Attempt = 1, Probe = 4, Type_Reading = 5 };

QString position_caption(uint8_t adr) {
    return QStringLiteral("Position = ") + three_digits(adr);
}

// Status byte of the last frame reply; a reply without one counts as a failed frame.
bool frame_status(Tool& t, bool frame_ok, uint8_t* status) {
    if (!frame_ok || !t.link.rx_has(1)) return false;
    *status = t.link.rx(0);
    return true;
}

QString fault_text(Line::Link_Fault fault) {
    switch (fault) {
    case Line::Link_Fault::Wrong_Echo:
        return QString::fromUtf8("écho incorrect");
    case Line::Link_Fault::Port_Closed:
        return QString::fromUtf8("port fermé");
    case Line::Link_Fault::No_Reply:
        return QString::fromUtf8("pas de réponse");
    case Line::Link_Fault::None:
        break;
    }
    return QString::fromUtf8("réponse incomplète");
}

void start_type_reading(Tool& t) {
    t.state.Search_Step = Type_Reading;
    t.form.Current_Operation_Lbl.set_caption(QStringLiteral("Lecture type Adresses"));
    t.state.Cur_Adr = 1;
}

void search_probe(Tool& t) {
    uint8_t status = 0;
    if (!frame_status(
            t, t.link.Send_Frame(0x80 + t.state.Phase_Code, t.state.Cur_Adr, 0x01, true, false),
            &status))
        return search_cut_short(t, fault_text(t.link.last_fault()));
    if (status != 0) {
        t.state.Search_Step = Second_Attempt;
        return;
    }
    t.form.Adr_Box(t.state.Cur_Adr).set_back_color(Cell_Found);
    t.record.set_found(t.state.Cur_Adr);
    ++t.state.Adr_Count;
    if (t.state.Cur_Adr < 128)
        ++t.state.Cur_Adr;
    else
        start_type_reading(t);
}

void search_second_attempt(Tool& t) {
    uint8_t status = 0;
    if (!frame_status(
            t, t.link.Send_Frame(0x80 + t.state.Phase_Code, 0xC8, t.state.Cur_Adr, true, false),
            &status))
        return search_cut_short(t, fault_text(t.link.last_fault()));
    if (status == 0)
        t.state.Search_Step = Probe;
    else if (t.state.Adr_Count > 0)
        start_type_reading(t);
    else
        set_task(t.state, Task::Search_End);
}

void search_type_reading(Tool& t) {
    const bool ok = t.link.Send_Frame(0x13, t.state.Cur_Adr, 0x00, false, false);
    if (!ok || !t.link.rx_has(2)) return search_cut_short(t, fault_text(t.link.last_fault()));
    if (t.link.rx(0) != 0) return search_cut_short(t, QString::fromUtf8("type refusé"));
    const uint8_t code = t.link.rx(1);
    const uint8_t index = type_index(code);
    if (index == 4) ++t.state.Type4_Counter;
    const uint8_t adr = t.state.Cur_Adr;
    const QString name = type_name(code, t.state.Type4_Counter);
    t.form.Adr_Box(adr).set_caption(cell_caption(adr, name));
    t.record.set_type(adr, code, name);
    t.state.Adr_Type[adr - 1] = index;
    t.type_sight[adr - 1] = t.board.sight();
    if (index == 4 && t.state.Type4_Counter >= 8) t.state.Type4_Counter = 0;
    show_search_status(t, position_caption(adr) + QStringLiteral(" Type adresse =") +
                              QLatin1Char(' ') + QString::number(code));
    if (t.state.Cur_Adr < t.state.Adr_Count)
        ++t.state.Cur_Adr;
    else
        set_task(t.state, Task::Search_End);
}

} // namespace

// The search's part of Grid_Locked, set as the search starts and cleared as it ends; the
// simulation keeps the other part.
void lock_grid_for_search(Tool& t, bool locked) {
    t.state.Grid_Locked.set(locked);
}

QString cell_caption(int adr, const QString& name) {
    return three_digits(adr) + QLatin1Char('\n') + name;
}

void search_cut_short(Tool& t, const QString& why) {
    t.search_stop = QString::fromUtf8("Recherche interrompue\nen %1 : %2")
                        .arg(three_digits(t.state.Cur_Adr), why);
    set_task(t.state, Task::Search_End);
}

void set_cell_type(Tool& t, uint8_t adr, uint8_t code) {
    const uint8_t index = type_index(code);
    t.state.Adr_Type[adr - 1] = index;
    t.type_sight[adr - 1] = t.board.sight();
    // As the search numbers them: 1 to 8, then 1 again, along the addresses.
    int muro = 0;
    for (int a = 1; a <= adr; ++a)
        muro += t.state.Adr_Type[a - 1] == 4;
    const QString name = type_name(code, uint8_t((muro + 7) % 8 + 1));
    t.form.Adr_Box(adr).set_caption(cell_caption(adr, name));
    t.record.set_type(adr, code, name);
}

void Start_Bus_Cmd_Click(Tool& t) {
    another_operation_starts(t);
    // Hidden at once, so a second click or F5 cannot queue another search behind this one.
    t.form.Start_Bus_Cmd.set_visible(false);
    t.link.run_request([&t] {
        // The search set-up is held as one bus operation: a grid click that comes during the
        // re-arm runs after it, and then finds the grid locked.
        Line::Step_Scope busy(t.link);
        t.board.set_short_circuit(false);
        t.form.Start_Bus_Cmd.set_visible(false);
        t.form.Adr_Status_Cde.set_visible(false);
        t.form.Search_Stop_Lbl.set_visible(false);
        t.search_stop.clear();
        t.record.search_started();
        for (int n = 1; n <= 128; ++n) {
            t.form.Adr_Box(n).set_back_color(Cell_Grey);
            t.form.Adr_Box(n).set_caption(cell_caption(n, QStringLiteral("???")));
            t.state.Adr_Type[n - 1] = 0;
            t.form.Led_Shp(n).set_visible(false);
        }

        if (!Rearm_Bus(t)) {
            // The grid is reset and the old count still shows: say the search never began.
            const QString why = QString::fromUtf8("Recherche impossible\nréarmement : ") +
                                fault_text(t.link.last_fault());
            t.form.Search_Stop_Lbl.set_caption(why);
            t.form.Search_Stop_Lbl.set_visible(true);
            t.record.search_ended(0, 0, why);
            t.form.Start_Bus_Cmd.set_visible(true);
            set_task(t.state, Task::Probe_Interface);
            return;
        }

        t.state.Cur_Adr = 1;
        set_task(t.state, Task::Search_Addresses);
        t.form.Timer_Tache.setInterval(tick_ms(t));
        t.state.Search_Step = Probe;

        show_search_status(t, position_caption(1));
        t.state.Adr_Count = 0;
        t.form.Current_Operation_Lbl.set_caption(QStringLiteral("Recherches Adresses raccordées"));

        for (int n = 1; n <= 128; ++n)
            t.form.Adr_Box(n).set_back_color(Cell_Searching);

        lock_grid_for_search(t, true);
        t.state.Type4_Counter = 0;
    });
}

bool Rearm_Bus(Tool& t) {
    Line::Step_Scope busy(t.link);
    t.form.Timer_Tache.stop();
    const QString previous = t.form.Current_Operation_Lbl.Caption(); // as designed
    t.form.Current_Operation_Lbl.set_caption(QStringLiteral("Rearmement...Patienter..."));

    bool result = false;
    if (t.link.Send_Command(0x04, 0x04)) {
        Tempo_Wait(t, 2000);
        result = t.link.Send_Command(0x03, 0x03);
    }

    t.form.Current_Operation_Lbl.set_caption(previous);
    // A quit during the re-arm stopped the tick with the window; it stays off.
    if (!t.state.Quit_Flag) t.form.Timer_Tache.start();
    return result;
}

void Search_Addresses(Tool& t) {
    show_search_status(t, position_caption(t.state.Cur_Adr));
    // Cur_Adr stays within 1..128 by construction; a corrupted value would index the grid wrong.
    if (t.state.Cur_Adr < 1 || t.state.Cur_Adr > 128) {
        set_task(t.state, Task::Search_End);
        return;
    }
    switch (t.state.Search_Step) {
    case Probe:
        search_probe(t);
        break;
    case Second_Attempt:
        search_second_attempt(t);
        break;
    case Type_Reading:
        search_type_reading(t);
        break;
    default:
        break;
    }
}

void Search_End(Tool& t) {
    show_search_status(t, QLatin1Char(' ') + QString::number(t.state.Adr_Count) +
                              QStringLiteral(" Adresses trouvées"));
    t.form.Start_Bus_Cmd.set_visible(true);
    t.form.Timer_Tache.setInterval(tick_ms(t));
    set_task(t.state, Task::Probe_Interface);
    t.form.Current_Operation_Lbl.set_caption(Bus_Form::Waiting_Operation);
    lock_grid_for_search(t, false);
    if (t.state.Adr_Count > 0) t.form.Adr_Status_Cde.set_visible(true);
    t.form.Search_Stop_Lbl.set_caption(t.search_stop);
    t.form.Search_Stop_Lbl.set_visible(!t.search_stop.isEmpty());
    // Cut short while probing, the addresses from the one that failed on were never looked at.
    const bool all_probed = t.search_stop.isEmpty() || t.state.Search_Step == Type_Reading;
    t.record.search_ended(all_probed ? 128 : t.state.Cur_Adr - 1, t.state.Adr_Count, t.search_stop);
}
