#include "engine/com_port.h"

#include "engine/tempo.h"
#include "model/tool.h"

#include <QFileInfo>

namespace {

constexpr int Retry_Ms = 2000;

// Which device COM n is, shown on the interface panel: the link and where it leads.
void show_device(Tool& t, bool open) {
    QString where = t.port_device;
    const QFileInfo info(where);
    if (info.isSymLink()) where += QString::fromUtf8(" → ") + info.symLinkTarget();
    QString text = QStringLiteral("Port COM%1 : ").arg(t.state.Com_Port) + where;
    if (!open) text += QString::fromUtf8(" (non ouvert, nouvel essai automatique)");
    t.form.Emul_Frm.set_tool_tip_text(text);
}

// The line added under the message of a port that does not open: what went wrong, and what to
// do about it. On Linux most first-run failures are an account outside the dialout group.
QString why_not_open(const Serial_Port* port) {
    using F = Serial_Port::Open_Failure;
    switch (port ? port->open_failure() : F::No_Device) {
    case F::No_Device:
        return QString::fromUtf8("Cause : aucun périphérique à ce nom (adaptateur débranché ?).");
    case F::Permission:
#ifdef Q_OS_LINUX
        return QString::fromUtf8("Cause : accès refusé. Ajoutez votre compte au groupe dialout "
                                 "(sudo usermod -aG dialout $USER), puis fermez la session et "
                                 "reconnectez-vous.");
#else
        return QString::fromUtf8("Cause : accès refusé.");
#endif
    case F::Busy:
        return QString::fromUtf8("Cause : le port est déjà utilisé par un autre programme.");
    case F::None:
    case F::Other:
        break;
    }
    return QString::fromUtf8("Cause : le système refuse de l'ouvrir.");
}

void start_task_tick(Tool& t) {
    t.form.Timer_Tache.setInterval(tick_ms(t));
    if (!t.form.Timer_Tache.isActive()) t.form.Timer_Tache.start();
    t.state.Probe_Retries = 2;
    t.state.Task_Tick = false;
}

} // namespace

bool open_device(Tool& t) {
    Serial_Port* port = t.link.Comm1();
    if (!port) return false;
    // Named at each opening: a COM<n> link that has appeared since wins over the fallback.
    t.port_device = port->device_name(t.state.Com_Port);
    const bool open = port->open(t.state.Com_Port);
    show_device(t, open);
    if (!open) return false;
    t.board.lost_sight(); // another device, or the same one again: maybe another board
    t.link.drain();
    return true;
}

void Open_Com_Port(Tool& t) {
    Program_State& state = t.state;
    Bus_Form& form = t.form;

    t.board.set_answering(false);
    t.board.set_version(-1);
    state.Connected = false;
    set_task(state, Task::Probe_Interface);

    t.port_wanted = false;
    t.port_retry.stop();
    Serial_Port* port = t.link.Comm1();
    if (port && port->PortOpen()) port->close();

    if (!open_device(t)) {
        form.Timer_Tache.stop();
        // No probe will run to declare the board gone and hide it.
        t.board.set_short_circuit(false);
        // A device given by its path is named so: the number it stands in for means nothing.
        const QString name = t.port_for_run.path.isEmpty()
                                 ? QStringLiteral("Com%1").arg(state.Com_Port)
                                 : t.port_for_run.path;
        const QString prompt = QStringLiteral("Le port ") + name +
                               QString::fromUtf8(" n'existe pas ou n'est pas libre !") +
                               QLatin1Char('\n') + why_not_open(port);
        if (t.dialogs)
            state.Last_Result = t.dialogs->msg_box(prompt, Msg_Exclamation, "Erreur Port Com");
        // Once the box is read: the adapter may be plugged in, or the rights given, later.
        if (!state.Quit_Flag) t.port_retry.start(clock_ms(t, Retry_Ms));
        return;
    }
    t.port_wanted = true;
    start_task_tick(t);
}

void port_retry_timer_timer(Tool& t) {
    if (t.state.Quit_Flag || t.port_wanted) {
        t.port_retry.stop();
        return;
    }
    // Not under a running step: its exchanges find the port closed and fail as they should.
    if (!t.link.bus_free() || !open_device(t)) return;
    t.port_retry.stop();
    t.port_wanted = true;
    start_task_tick(t);
}
