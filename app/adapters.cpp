#include "app/adapters.h"

#include "app/menus.h"
#include "app/settings.h"
#include "engine/com_port.h"
#include "engine/requests.h"
#include "link/port_list.h"
#include "model/tool.h"

namespace {

const QString Adapter_Key = QStringLiteral("port/adapter");

QList<QStringList> adapter_rows(const QList<Serial_Adapter>& adapters) {
    QList<QStringList> rows;
    for (const Serial_Adapter& a : adapters)
        rows << QStringList{
            a.name(), a.device,    a.description,
            a.maker,  a.usb_ids(), a.held ? QString::fromUtf8("occupé") : QStringLiteral("libre")};
    return rows;
}

} // namespace

QString remembered_adapter() {
    return user_settings().value(Adapter_Key).toString();
}

void forget_adapter() {
    user_settings().remove(Adapter_Key);
}

void Adapters_Mnu_Click(Tool& t) {
    if (!t.dialogs) return;
    // The rows shown are the ones chosen from: the list is kept as it was last shown.
    QList<Serial_Adapter> shown;
    const int row = t.dialogs->choose_row(
        QString::fromUtf8("Adaptateurs série"),
        QString::fromUtf8("Adaptateurs branchés (la liste suit ce qu'on branche et débranche). "
                          "Celui choisi est ouvert et retenu par son nom stable."),
        {QStringLiteral("Nom"), QStringLiteral("Périphérique"), QStringLiteral("Description"),
         QStringLiteral("Fabricant"), QStringLiteral("USB"), QStringLiteral("État")},
        [&shown] {
            shown = serial_adapters();
            return adapter_rows(shown);
        });
    if (row < 0 || row >= shown.size() || t.state.Quit_Flag) return;
    const QString name = shown.at(row).name();
    Tool::Port_For_Run& run = t.port_for_run;
    // The settings file keeps its own number, as with --port.
    if (!run.active()) run.settings_port = t.state.Com_Port;
    run.number = 0;
    run.path = name;
    if (Serial_Port* p = t.link.Comm1()) p->set_device(name);
    user_settings().setValue(Adapter_Key, name);
    t.record.note(QString::fromUtf8("Adaptateur série choisi : %1").arg(name));
    // As with the port number: the running step ends before the port is reopened.
    Tool* tp = &t;
    t.link.run_request([tp] {
        end_operation_for_reopening(*tp);
        Open_Com_Port(*tp);
    });
}
