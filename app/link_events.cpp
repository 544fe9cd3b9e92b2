#include "app/link_events.h"

#include "engine/com_port.h"
#include "engine/tempo.h"
#include "model/tool.h"

namespace {

// Switches a lamp timer on. A timer already running keeps its count, so the lamp goes dark at
// the end of the current 75 ms period. The timers stop once their lamp is dark: an idle tool
// has no reason to wake up every 75 ms.
void Light(Control& lamp, QTimer& timer) {
    lamp.setVisible(true);
    if (!timer.isActive()) timer.start();
}

} // namespace

void Wire_Link_Events(Tool& t) {
    Tool* tp = &t;
    Bus_Form& f = t.F;
    const std::pair<QTimer*, void (*)(Tool&)> timers[] = {
        {&f.Timer_Tache, Timer_Tache_Timer},     {&f.Tempo, Tempo_Timer},
        {&f.Send_Timer, Send_Timer_Timer},       {&f.Receive_Timer, Receive_Timer_Timer},
        {&t.Port_Retry, Port_Retry_Timer_Timer},
    };
    for (const auto& [timer, handler] : timers)
        QObject::connect(timer, &QTimer::timeout, &f, [tp, handler = handler] { handler(*tp); });

    QObject::connect(&t.Link, &Line::Byte_Sent, &f,
                     [tp] { Light(tp->F.Send_Shp, tp->F.Send_Timer); });
    QObject::connect(&t.Link, &Line::Reply_Arrived, &f, [tp] {
        // A reply that comes in after the window unloaded lights no lamp: its timer would
        // outlive the window.
        if (!tp->F.Unloaded()) Light(tp->F.Receive_Shp, tp->F.Receive_Timer);
    });
}

void Send_Timer_Timer(Tool& t) {
    t.F.Send_Shp.setVisible(false);
    t.F.Send_Timer.stop();
}

void Receive_Timer_Timer(Tool& t) {
    t.F.Receive_Shp.setVisible(false);
    t.F.Receive_Timer.stop();
}
