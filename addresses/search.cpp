#include "addresses/search.h"

#include "engine/requests.h"
#include "engine/tempo.h"
#include "model/tool.h"

namespace {

constexpr Vb_Color Cell_Grey = RGB(192, 192, 192);
constexpr Vb_Color Cell_Searching = RGB(224, 224, 224);
constexpr Vb_Color Cell_Found = RGB(128, 128, 255);

enum Step : uint8_t { Second_Attempt = 1, Probe = 4, Type_Reading = 5 };

QString Three_Digits(int n) {
    return QStringLiteral("%1").arg(n, 3, 10, QLatin1Char('0'));
}

QString Position_Caption(uint8_t adr) {
    return QStringLiteral("Position = ") + Three_Digits(adr);
}

QString Cell_Caption(int adr, const QString& name) {
    return Three_Digits(adr) + QLatin1Char('\n') + name;
}

// Status byte of the last frame reply; a reply without one counts as a failed frame.
bool Frame_Status(Tool& t, bool frame_ok, uint8_t* status) {
    if (!frame_ok || !t.Link.Rx_Has(1)) return false;
    *status = t.Link.Rx(0);
    return true;
}

QString Fault_Text(Line::Link_Fault fault) {
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

void Start_Type_Reading(Tool& t) {
    t.S.Search_Step = Type_Reading;
    t.F.Current_Operation_Lbl.setCaption(QStringLiteral("Lecture type Adresses"));
    t.S.Cur_Adr = 1;
}

void Search_Probe(Tool& t) {
    uint8_t status = 0;
    if (!Frame_Status(t, t.Link.Send_Frame(0x80 + t.S.Phase_Code, t.S.Cur_Adr, 0x01, true, false),
                      &status))
        return Search_Cut_Short(t, Fault_Text(t.Link.Last_Fault));
    if (status != 0) {
        t.S.Search_Step = Second_Attempt;
        return;
    }
    t.F.Adr_Box(t.S.Cur_Adr).setBackColor(Cell_Found);
    ++t.S.Adr_Count;
    if (t.S.Cur_Adr < 128)
        ++t.S.Cur_Adr;
    else
        Start_Type_Reading(t);
}

void Search_Second_Attempt(Tool& t) {
    uint8_t status = 0;
    if (!Frame_Status(t, t.Link.Send_Frame(0x80 + t.S.Phase_Code, 0xC8, t.S.Cur_Adr, true, false),
                      &status))
        return Search_Cut_Short(t, Fault_Text(t.Link.Last_Fault));
    if (status == 0)
        t.S.Search_Step = Probe;
    else if (t.S.Adr_Count > 0)
        Start_Type_Reading(t);
    else
        t.S.Task_State = Task::Search_End;
}

void Search_Type_Reading(Tool& t) {
    const bool ok = t.Link.Send_Frame(0x13, t.S.Cur_Adr, 0x00, false, false);
    if (!ok || !t.Link.Rx_Has(2)) return Search_Cut_Short(t, Fault_Text(t.Link.Last_Fault));
    if (t.Link.Rx(0) != 0) return Search_Cut_Short(t, QString::fromUtf8("type refusé"));
    const uint8_t code = t.Link.Rx(1);
    const uint8_t index = Type_Index(code);
    if (index == 4) ++t.S.Type4_Counter;
    const uint8_t adr = t.S.Cur_Adr;
    t.F.Adr_Box(adr).setCaption(Cell_Caption(adr, Type_Name(code, t.S.Type4_Counter)));
    t.S.Adr_Type[adr - 1] = index;
    t.Type_Epoch[adr - 1] = t.Board_Epoch;
    if (index == 4 && t.S.Type4_Counter >= 8) t.S.Type4_Counter = 0;
    t.F.Cur_Adr_Lbl.setCaption(Position_Caption(adr) + QStringLiteral(" Type adresse =") +
                               QLatin1Char(' ') + QString::number(code));
    if (t.S.Cur_Adr < t.S.Adr_Count)
        ++t.S.Cur_Adr;
    else
        t.S.Task_State = Task::Search_End;
}

} // namespace

uint8_t Type_Index(uint8_t type_code) {
    switch (type_code) {
    case 0x13:
    case 0x19:
        return 1;
    case 0x1A:
        return 3;
    case 0x17:
        return 5;
    case 0x21:
        return 2;
    case 0x42:
        return 4;
    default:
        return 0;
    }
}

QString Type_Name(uint8_t type_code, uint8_t type4_counter) {
    switch (Type_Index(type_code)) {
    case 1:
        return QStringLiteral("KOR");
    case 2:
        return QStringLiteral("ZEPHA");
    case 3:
        return QStringLiteral("DLX508B");
    case 4:
        return QStringLiteral("MURO-S") + QString::number(type4_counter);
    case 5:
        return QStringLiteral("KTRW");
    default:
        return QStringLiteral("???");
    }
}

void Search_Cut_Short(Tool& t, const QString& why) {
    t.Search_Stop =
        QString::fromUtf8("Recherche interrompue\nen %1 : %2").arg(Three_Digits(t.S.Cur_Adr), why);
    t.S.Task_State = Task::Search_End;
}

void Set_Cell_Type(Tool& t, uint8_t adr, uint8_t code) {
    const uint8_t index = Type_Index(code);
    t.S.Adr_Type[adr - 1] = index;
    t.Type_Epoch[adr - 1] = t.Board_Epoch;
    // As the search numbers them: 1 to 8, then 1 again, along the addresses.
    int muro = 0;
    for (int a = 1; a <= adr; ++a)
        muro += t.S.Adr_Type[a - 1] == 4;
    t.F.Adr_Box(adr).setCaption(Cell_Caption(adr, Type_Name(code, uint8_t((muro + 7) % 8 + 1))));
}

void Start_Bus_Cmd_Click(Tool& t) {
    // Hidden at once, so a second click or F5 cannot queue another search behind this one.
    t.F.Start_Bus_Cmd.setVisible(false);
    t.Link.Run_Request([&t] {
        // The search set-up is held as one bus operation: a grid click that comes during the
        // re-arm runs after it, and then finds the grid locked.
        Line::Step_Scope busy(t.Link);
        t.F.Cc_Lbl.setVisible(false);
        t.F.Start_Bus_Cmd.setVisible(false);
        t.F.Adr_Status_Cde.setVisible(false);
        t.F.Search_Stop_Lbl.setVisible(false);
        t.Search_Stop.clear();
        for (int n = 1; n <= 128; ++n) {
            t.F.Adr_Box(n).setBackColor(Cell_Grey);
            t.F.Adr_Box(n).setCaption(Cell_Caption(n, QStringLiteral("???")));
            t.S.Adr_Type[n - 1] = 0;
            t.F.Led_Shp(n).setVisible(false);
        }

        if (!Rearm_Bus(t)) {
            // The grid is reset and the old count still shows: say the search never began.
            t.F.Search_Stop_Lbl.setCaption(
                QString::fromUtf8("Recherche impossible\nréarmement : ") +
                Fault_Text(t.Link.Last_Fault));
            t.F.Search_Stop_Lbl.setVisible(true);
            t.F.Start_Bus_Cmd.setVisible(true);
            t.S.Task_State = Task::Probe_Interface;
            return;
        }

        t.S.Cur_Adr = 1;
        t.S.Task_State = Task::Search_Addresses;
        t.F.Timer_Tache.setInterval(Tick_Ms(t));
        t.S.Search_Step = Probe;

        t.F.Cur_Adr_Lbl.setCaption(Position_Caption(1));
        t.F.Cur_Adr_Lbl.setVisible(true);
        t.S.Adr_Count = 0;
        t.F.Current_Operation_Lbl.setCaption(QStringLiteral("Recherches Adresses raccordées"));

        for (int n = 1; n <= 128; ++n)
            t.F.Adr_Box(n).setBackColor(Cell_Searching);

        t.S.Grid_Locked = true;
        t.S.Type4_Counter = 0;
    });
}

bool Rearm_Bus(Tool& t) {
    Line::Step_Scope busy(t.Link);
    t.F.Timer_Tache.stop();
    const QString previous = t.F.Current_Operation_Lbl.Caption();
    t.F.Current_Operation_Lbl.setCaption(QStringLiteral("Rearmement...Patienter..."));

    bool result = false;
    if (t.Link.Send_Command(0x04, 0x04)) {
        Tempo_Wait(t, 2000);
        result = t.Link.Send_Command(0x03, 0x03);
    }

    t.F.Current_Operation_Lbl.setCaption(previous);
    // A quit during the re-arm stopped the tick with the window; it stays off.
    if (!t.S.Quit_Flag) t.F.Timer_Tache.start();
    return result;
}

void Search_Addresses(Tool& t) {
    t.F.Cur_Adr_Lbl.setCaption(Position_Caption(t.S.Cur_Adr));
    // Cur_Adr stays within 1..128 by construction; a corrupted value would index the grid wrong.
    if (t.S.Cur_Adr < 1 || t.S.Cur_Adr > 128) {
        t.S.Task_State = Task::Search_End;
        return;
    }
    switch (t.S.Search_Step) {
    case Probe:
        Search_Probe(t);
        break;
    case Second_Attempt:
        Search_Second_Attempt(t);
        break;
    case Type_Reading:
        Search_Type_Reading(t);
        break;
    default:
        break;
    }
}

void Search_End(Tool& t) {
    t.F.Cur_Adr_Lbl.setCaption(QLatin1Char(' ') + QString::number(t.S.Adr_Count) +
                               QStringLiteral(" Adresses trouvées"));
    t.F.Start_Bus_Cmd.setVisible(true);
    t.F.Timer_Tache.setInterval(Tick_Ms(t));
    t.S.Task_State = Task::Probe_Interface;
    t.F.Current_Operation_Lbl.setCaption(QStringLiteral("Attente Commande"));
    t.S.Grid_Locked = false;
    if (t.S.Adr_Count > 0) t.F.Adr_Status_Cde.setVisible(true);
    t.F.Search_Stop_Lbl.setCaption(t.Search_Stop);
    t.F.Search_Stop_Lbl.setVisible(!t.Search_Stop.isEmpty());
}
