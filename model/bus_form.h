#pragma once
#include "model/controls.h"

#include <QObject>
#include <QTimer>

// The main window Bus_Frm as the program sees it: its controls with their design values, its
// timers and its menu items. The Qt window (app/ui) builds widgets from this and follows it.
class Bus_Form : public QObject {
    Q_OBJECT
  public:
    Bus_Form();

    QString Caption = QStringLiteral("BUS AUTOCODAGE TARNELIS");
    // The window's title: the caption, and the site and loop recorded into when there are.
    void set_caption(const QString& caption) {
        Caption = caption;
        emit caption_changed();
    }
    // What Current_Operation_Lbl says when no operation runs.
    static inline const QString Waiting_Operation = QStringLiteral("Attente Commande");
    static constexpr int ScaleWidth = 15465; // client area, twips
    static constexpr int ScaleHeight = 10080;
    Bgr_Colour BackColor = Sys_Workspace;

    // Placed directly on the window
    Control Start_Bus_Cmd;
    Control Adr_Status_Cde;
    Control Phase_Frm;
    Control Status_Frm;
    Control Emul_Frm;
    Control Status_Frame;
    Control_Array<1, 128> Adr_Box;
    Control_Array<1, 128> Led_Shp;
    Control_Array<1, 128> Plan_Mark; // the cell against the planned loop
    Control_Array<1, 8> Hor_Bus_Line;
    Control_Array<1, 7> Ver_Bus_Line;
    Control_Array<0, 3> Lgd_Shp;
    Control_Array<0, 3> Lgd_Lbl;
    Control Send_Shp;
    Control Receive_Shp;
    Control Read_All_Bar; // progress of a readout of every detector

    // Inside Phase_Frm
    Control_Array<1, 2> Phase_Option;

    // Inside Status_Frm
    Control Current_Operation_Lbl;
    Control Cur_Adr_Lbl;
    Control Search_Stop_Lbl; // where and why the last search was cut short

    // Inside Emul_Frm
    Control Connection_Lbl;
    Control Version_Lbl;
    Control Cc_Lbl;

    // Inside Status_Frame (the detector panel)
    Control_Array<0, 15> Param_Lbl;
    Control_Array<0, 15> Value_Lbl;
    Control Led_On_Cde;
    Control Led_Off_Cde;
    Control Opto_Check;
    Control Thermo_Check;
    Control Picture2; // optical smoke chamber, beside Opto_Check
    Control Picture1; // thermometer, beside Thermo_Check
    Control Close_Cmd;

    // Menu bar
    Control Utilitaires_Mnu;
    Control Serial_Com_Port_Mnu;
    Control Adapters_Mnu; // the serial adapters present, one chosen by its stable name
    Control Read_All_Mnu;
    Control Led_Walk_Mnu;
    Control Import_Plan_Mnu;
    Control Compare_Mnu;
    Control Visit_Compare_Mnu; // the record against the earlier visit, in a table
    Control Report_Visit_Mnu;  // a JSON report from elsewhere taken as the earlier visit
    Control Visit_Marks_Mnu;   // ticked: the cells' marks follow the earlier visit, not the plan
    Control Site_New_Mnu;
    Control Site_Open_Mnu;
    Control_Array<1, 4> Site_Recent_Mnu; // the sites opened last, hidden until there are some
    Control Export_Report_Mnu;
    Control Trace_Mnu;
    Control Journal_Mnu;
    Control Quit_Mnu;
    Control About_Mnu;

    // Timers
    QTimer Timer_Tache;   // task tick
    QTimer Tempo;         // paced delay
    QTimer Send_Timer;    // hides Send_Shp
    QTimer Receive_Timer; // hides Receive_Shp

    // Every control, in creation order, for the window layer.
    QList<Control*> all_controls() const;

    // Unloading the window: the Qt window closes, the program's objects stay until the end.
    void unload();
    bool is_unloaded() const { return unloaded_; }

  signals:
    void caption_changed();
    void unloaded();

  private:
    bool unloaded_ = false;
};
