#include "model/bus_form.h"

namespace {
using K = Control_Kind;

Font_Spec font(double size, bool bold, const QString& name = QStringLiteral("MS Sans Serif")) {
    Font_Spec f;
    f.Name = name;
    f.Size = size;
    f.Bold = bold;
    return f;
}

// Design values of one control: where it sits and what it shows before any code runs.
void design(Control& c, const QString& caption, int left, int top, int width, int height) {
    c.set_caption(caption);
    c.Move(left, top, width, height);
}
} // namespace

Bus_Form::Bus_Form()
    : Start_Bus_Cmd(K::Button, "Start_Bus_Cmd"), Adr_Status_Cde(K::Button, "Adr_Status_Cde"),
      Phase_Frm(K::Frame, "Phase_Frm"), Status_Frm(K::Frame, "Status_Frm"),
      Emul_Frm(K::Frame, "Emul_Frm"), Status_Frame(K::Frame, "Status_Frame"),
      Adr_Box([](int i) { return std::make_unique<Control>(K::Label, "Adr_Box", i); }),
      Led_Shp([](int i) { return std::make_unique<Control>(K::Shape, "Led_Shp", i); }),
      Plan_Mark([](int i) { return std::make_unique<Control>(K::Shape, "Plan_Mark", i); }),
      Hor_Bus_Line([](int i) { return std::make_unique<Control>(K::Line, "Hor_Bus_Line", i); }),
      Ver_Bus_Line([](int i) { return std::make_unique<Control>(K::Line, "Ver_Bus_Line", i); }),
      Lgd_Shp([](int i) { return std::make_unique<Control>(K::Shape, "Lgd_Shp", i); }),
      Lgd_Lbl([](int i) { return std::make_unique<Control>(K::Label, "Lgd_Lbl", i); }),
      Send_Shp(K::Shape, "Send_Shp"), Receive_Shp(K::Shape, "Receive_Shp"),
      Read_All_Bar(K::Progress, "Read_All_Bar"), Phase_Option([this](int i) {
          return std::make_unique<Control>(K::Option, "Phase_Option", i, &Phase_Frm);
      }),
      Current_Operation_Lbl(K::Label, "Current_Operation_Lbl", -1, &Status_Frm),
      Cur_Adr_Lbl(K::Label, "Cur_Adr_Lbl", -1, &Status_Frm),
      Search_Stop_Lbl(K::Label, "Search_Stop_Lbl", -1, &Status_Frm),
      Connection_Lbl(K::Label, "Connection_Lbl", -1, &Emul_Frm),
      Version_Lbl(K::Label, "Version_Lbl", -1, &Emul_Frm),
      Cc_Lbl(K::Label, "Cc_Lbl", -1, &Emul_Frm), Param_Lbl([this](int i) {
          return std::make_unique<Control>(K::Label, "Param_Lbl", i, &Status_Frame);
      }),
      Value_Lbl([this](int i) {
          return std::make_unique<Control>(K::Label, "Value_Lbl", i, &Status_Frame);
      }),
      Led_On_Cde(K::Button, "Led_On_Cde", -1, &Status_Frame),
      Led_Off_Cde(K::Button, "Led_Off_Cde", -1, &Status_Frame),
      Opto_Check(K::Check, "Opto_Check", -1, &Status_Frame),
      Thermo_Check(K::Check, "Thermo_Check", -1, &Status_Frame),
      Picture2(K::Picture, "Picture2", -1, &Status_Frame),
      Picture1(K::Picture, "Picture1", -1, &Status_Frame),
      Close_Cmd(K::Button, "Close_Cmd", -1, &Status_Frame),
      Utilitaires_Mnu(K::Menu, "Utilitaires_Mnu"),
      Serial_Com_Port_Mnu(K::Menu, "Serial_Com_Port_Mnu", -1, &Utilitaires_Mnu),
      Adapters_Mnu(K::Menu, "Adapters_Mnu", -1, &Utilitaires_Mnu),
      Read_All_Mnu(K::Menu, "Read_All_Mnu", -1, &Utilitaires_Mnu),
      Led_Walk_Mnu(K::Menu, "Led_Walk_Mnu", -1, &Utilitaires_Mnu),
      Import_Plan_Mnu(K::Menu, "Import_Plan_Mnu", -1, &Utilitaires_Mnu),
      Compare_Mnu(K::Menu, "Compare_Mnu", -1, &Utilitaires_Mnu),
      Visit_Compare_Mnu(K::Menu, "Visit_Compare_Mnu", -1, &Utilitaires_Mnu),
      Report_Visit_Mnu(K::Menu, "Report_Visit_Mnu", -1, &Utilitaires_Mnu),
      Visit_Marks_Mnu(K::Menu, "Visit_Marks_Mnu", -1, &Utilitaires_Mnu),
      Site_New_Mnu(K::Menu, "Site_New_Mnu", -1, &Utilitaires_Mnu),
      Site_Open_Mnu(K::Menu, "Site_Open_Mnu", -1, &Utilitaires_Mnu), Site_Recent_Mnu([this](int i) {
          return std::make_unique<Control>(K::Menu, "Site_Recent_Mnu", i, &Utilitaires_Mnu);
      }),
      Export_Report_Mnu(K::Menu, "Export_Report_Mnu", -1, &Utilitaires_Mnu),
      Trace_Mnu(K::Menu, "Trace_Mnu", -1, &Utilitaires_Mnu),
      Journal_Mnu(K::Menu, "Journal_Mnu", -1, &Utilitaires_Mnu),
      Quit_Mnu(K::Menu, "Quit_Mnu", -1, &Utilitaires_Mnu), About_Mnu(K::Menu, "About_Mnu") {
    for (Control* c : all_controls())
        c->setParent(this);

    const Bgr_Colour cyan = 0x00FFFF00;

    design(Start_Bus_Cmd, "RECHERCHER ADRESSES (F5)", 96, 8736, 2052, 612);
    Start_Bus_Cmd.set_font(font(8.25, true));
    design(Adr_Status_Cde, "ETAT DES ADRESSES (F9)", 2880, 8736, 2124, 588);
    Adr_Status_Cde.set_font(font(8.25, true));
    Adr_Status_Cde.set_visible(false);

    design(Phase_Frm, "Protocole", 7008, 8736, 2508, 588);
    Phase_Frm.set_back_color(Sys_Workspace);
    design(Status_Frm, "Status", 96, 9408, 15276, 588);
    Status_Frm.set_back_color(0x00808080);
    Status_Frm.set_fore_color(cyan);
    design(Emul_Frm, "Emulateur de Bus", 672, 2400, 1548, 876);
    Emul_Frm.set_back_color(0x0000FF00);
    design(Status_Frame, "Etat", 5760, 576, 4764, 4452);
    Status_Frame.set_font(font(9.75, true));
    Status_Frame.set_visible(false);

    // Cell 1 as designed; the load sequence makes the others from it.
    Control& cell = Adr_Box(1);
    design(cell, "", 0, 0, 600, 400);
    cell.set_alignment(2);
    cell.set_back_color(0x0000FFFF);
    cell.set_fore_color(Sys_Window_Text);
    cell.set_font(font(7.5, true, QStringLiteral("Arial")));
    for (int n = 1; n <= 128; ++n) {
        Led_Shp(n).Move(0, 0, 150, 150);
        Led_Shp(n).set_shape(Control::Circle);
        Led_Shp(n).set_back_color(0x000000FF);
        Led_Shp(n).set_visible(false);
        Plan_Mark(n).Move(0, 0, 165, 165);
        Plan_Mark(n).set_shape(Control::Circle);
        Plan_Mark(n).set_fore_color(0x00000000);
        Plan_Mark(n).set_border_style(1);
        Plan_Mark(n).set_visible(false);
    }
    for (int j = 1; j <= 8; ++j) {
        Hor_Bus_Line(j).set_fore_color(cyan);
        Hor_Bus_Line(j).set_border_width(5);
    }
    for (int j = 1; j <= 7; ++j) {
        Ver_Bus_Line(j).set_fore_color(cyan);
        Ver_Bus_Line(j).set_border_width(5);
    }

    struct Legend {
        Bgr_Colour colour;
        int sq_left, sq_top;
        const char* caption;
        int lbl_left, lbl_top;
    };
    const Legend legend[4] = {{0x0000FF00, 2592, 8256, "=Veille", 2880, 8256},
                              {0x0000FFFF, 2592, 8448, "=Défaut com", 2880, 8448},
                              {0x000080FF, 4512, 8256, "=Défaut du point", 4800, 8256},
                              {0x000000FF, 4512, 8448, "=point en Alarme", 4800, 8448}};
    for (int i = 0; i <= 3; ++i) {
        Lgd_Shp(i).Move(legend[i].sq_left, legend[i].sq_top, 204, 204);
        Lgd_Shp(i).set_shape(Control::Square);
        Lgd_Shp(i).set_back_color(legend[i].colour);
        design(Lgd_Lbl(i), QString::fromUtf8(legend[i].caption), legend[i].lbl_left,
               legend[i].lbl_top, 2028, 204);
        Lgd_Lbl(i).set_transparent(true);
        Lgd_Lbl(i).set_font(font(9.75, true));
    }

    Send_Shp.Move(1824, 384, 96, 108);
    Send_Shp.set_back_color(0x000080FF);
    Send_Shp.set_visible(false);
    Receive_Shp.Move(1824, 672, 108, 108);
    Receive_Shp.set_back_color(0x0000FF00);
    Receive_Shp.set_visible(false);
    // Right of the protocol box, level with the buttons; shown while every detector is read.
    Read_All_Bar.Move(9696, 8880, 5676, 300);
    Read_All_Bar.set_font(font(8.25, true));
    Read_All_Bar.set_visible(false);

    design(Phase_Option(1), "Phase 1", 192, 288, 972, 204);
    design(Phase_Option(2), "Phase 2", 1344, 288, 972, 204);
    for (int i = 1; i <= 2; ++i)
        Phase_Option(i).set_back_color(Sys_Workspace);
    Phase_Option(2).set_value(1);

    for (Control* l : {&Current_Operation_Lbl, &Cur_Adr_Lbl}) {
        l->set_fore_color(cyan);
        l->set_transparent(true);
        l->set_font(font(12, true));
    }
    design(Current_Operation_Lbl, Waiting_Operation, 96, 192, 6636, 300);
    // As far right as the frame allows, for a run's summary; what it showed before is unchanged.
    design(Cur_Adr_Lbl, "Label1", 9696, 192, 5484, 300);
    Cur_Adr_Lbl.set_visible(false);
    // Between the two status texts, on two lines, in the colour of a communication fault.
    design(Search_Stop_Lbl, "", 6816, 135, 2820, 420);
    Search_Stop_Lbl.set_fore_color(0x0000FFFF);
    Search_Stop_Lbl.set_transparent(true);
    Search_Stop_Lbl.set_font(font(7.5, true));
    Search_Stop_Lbl.set_visible(false);

    design(Connection_Lbl, QString::fromUtf8("Déconnecté"), 96, 192, 1356, 204);
    Connection_Lbl.set_font(font(8.25, true));
    design(Version_Lbl, "(Version)", 96, 384, 1356, 204);
    Version_Lbl.set_visible(false);
    design(Cc_Lbl, "COURT-CIRCUIT", 96, 576, 1356, 204);
    Cc_Lbl.set_fore_color(0x008080FF);
    Cc_Lbl.set_visible(false);
    for (Control* l : {&Connection_Lbl, &Version_Lbl, &Cc_Lbl}) {
        l->set_alignment(2);
        l->set_transparent(true);
    }

    for (int i = 0; i <= 15; ++i) {
        design(Param_Lbl(i), QString::fromUtf8("Paramètre 1 ="), 96, 192 + 192 * i, 2316, 204);
        Param_Lbl(i).set_visible(false);
        design(Value_Lbl(i), "Valeur 1", 2496, 192 + 192 * i, 2196, 204);
        Value_Lbl(i).set_font(font(8.25, true));
        Value_Lbl(i).set_visible(false);
    }
    design(Led_On_Cde, "LED ON", 120, 3732, 876, 288);
    design(Led_Off_Cde, "LED OFF", 1080, 3732, 852, 288);
    design(Opto_Check, "Optique (EN54-7)", 3000, 3480, 1092, 420);
    design(Thermo_Check, "Thermique (EN54-5)", 3000, 3960, 1068, 420);
    // Ticked as designed; set before any handler is connected, so no Click is heard.
    Opto_Check.set_value(1);
    Thermo_Check.set_value(1);
    design(Picture2, "", 4320, 3480, 330, 480);
    design(Picture1, "", 4320, 3960, 330, 480);
    Picture1.set_back_color(Sys_Window);
    Picture2.set_back_color(Sys_Window);
    design(Close_Cmd, "FERMER", 120, 4080, 1812, 252);

    Utilitaires_Mnu.set_caption("&Utilitaires");
    Serial_Com_Port_Mnu.set_caption(QString::fromUtf8("&Port Série"));
    Adapters_Mnu.set_caption(QString::fromUtf8("A&daptateurs série..."));
    Read_All_Mnu.set_caption(QString::fromUtf8("&Lire tous les détecteurs"));
    Led_Walk_Mnu.set_caption(QString::fromUtf8("Allumer les LED &une à une..."));
    Import_Plan_Mnu.set_caption(QString::fromUtf8("&Importer la liste prévue..."));
    Compare_Mnu.set_caption(QString::fromUtf8("&Comparer avec la liste prévue..."));
    Visit_Compare_Mnu.set_caption(QString::fromUtf8("Comparer avec la &visite précédente..."));
    Report_Visit_Mnu.set_caption(QString::fromUtf8("Comparer avec un rapport &JSON..."));
    Visit_Marks_Mnu.set_caption(QString::fromUtf8("&Repères de la visite précédente"));
    Visit_Marks_Mnu.set_value(2);
    Site_New_Mnu.set_caption(QStringLiteral("&Nouveau site..."));
    Site_Open_Mnu.set_caption(QStringLiteral("&Ouvrir un site..."));
    for (int i = 1; i <= 4; ++i)
        Site_Recent_Mnu(i).set_visible(false);
    Export_Report_Mnu.set_caption(QStringLiteral("&Exporter le rapport..."));
    Trace_Mnu.set_caption(QStringLiteral("Enregistrer la &trace..."));
    Journal_Mnu.set_caption(QStringLiteral("&Journal..."));
    Quit_Mnu.set_caption("&Quitter");
    About_Mnu.set_caption("&A propos...");

    Timer_Tache.setInterval(100);
    Tempo.setInterval(0);
    Send_Timer.setInterval(75);
    Receive_Timer.setInterval(75);
}

QList<Control*> Bus_Form::all_controls() const {
    auto* self = const_cast<Bus_Form*>(this);
    QList<Control*> all = {&self->Start_Bus_Cmd, &self->Adr_Status_Cde, &self->Phase_Frm,
                           &self->Status_Frm,    &self->Emul_Frm,       &self->Status_Frame};
    for (int n = 1; n <= 128; ++n)
        all << &self->Adr_Box(n) << &self->Led_Shp(n) << &self->Plan_Mark(n);
    for (int j = 1; j <= 8; ++j)
        all << &self->Hor_Bus_Line(j);
    for (int j = 1; j <= 7; ++j)
        all << &self->Ver_Bus_Line(j);
    for (int i = 0; i <= 3; ++i)
        all << &self->Lgd_Shp(i) << &self->Lgd_Lbl(i);
    all << &self->Send_Shp << &self->Receive_Shp << &self->Read_All_Bar << &self->Phase_Option(1)
        << &self->Phase_Option(2) << &self->Current_Operation_Lbl << &self->Cur_Adr_Lbl
        << &self->Search_Stop_Lbl << &self->Connection_Lbl << &self->Version_Lbl << &self->Cc_Lbl;
    for (int i = 0; i <= 15; ++i)
        all << &self->Param_Lbl(i) << &self->Value_Lbl(i);
    all << &self->Led_On_Cde << &self->Led_Off_Cde << &self->Opto_Check << &self->Thermo_Check
        << &self->Picture2 << &self->Picture1 << &self->Close_Cmd << &self->Utilitaires_Mnu
        << &self->Serial_Com_Port_Mnu << &self->Adapters_Mnu << &self->Read_All_Mnu
        << &self->Led_Walk_Mnu << &self->Import_Plan_Mnu << &self->Compare_Mnu
        << &self->Visit_Compare_Mnu << &self->Report_Visit_Mnu << &self->Visit_Marks_Mnu
        << &self->Site_New_Mnu << &self->Site_Open_Mnu;
    for (int i = 1; i <= 4; ++i)
        all << &self->Site_Recent_Mnu(i);
    all << &self->Export_Report_Mnu << &self->Trace_Mnu << &self->Journal_Mnu << &self->Quit_Mnu
        << &self->About_Mnu;
    return all;
}

void Bus_Form::unload() {
    if (unloaded_) return;
    unloaded_ = true;
    for (QTimer* t : {&Timer_Tache, &Tempo, &Send_Timer, &Receive_Timer})
        t->stop();
    emit unloaded();
}
