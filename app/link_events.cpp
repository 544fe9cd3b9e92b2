#include "app/link_events.h"

#include "engine/com_port.h"
#include "engine/tempo.h"
#include "model/tool.h"

namespace {

// Switches a lamp timer on. A timer already running keeps its count, so the lamp goes dark at
// the end of the current 75 ms period. The timers stop once their lamp is dark: an idle tool
// has no reason to wake up every 75 ms.
void light_lamp(Control& lamp, QTimer& timer) {
    lamp.set_visible(true);
    if (!timer.isActive()) timer.start();
}

} // namespace

void wire_link_events(Tool& t) {
    Tool* tp = &t;
    Bus_Form& f = t.form;
    const std::pair<QTimer*, void (*)(Tool&)> timers[] = {
        {&f.Timer_Tache, Timer_Tache_Timer},     {&f.Tempo, Tempo_Timer},
        {&f.Send_Timer, Send_Timer_Timer},       {&f.Receive_Timer, Receive_Timer_Timer},
        {&t.port_retry, port_retry_timer_timer},
    };
    for (const auto& [timer, handler] : timers)
        QObject::connect(timer, &QTimer::timeout, &f, [tp, handler = handler] { handler(*tp); });

    QObject::connect(&t.link, &Line::byte_sent, &f,
                     [tp] { light_lamp(tp->form.Send_Shp, tp->form.Send_Timer); });
    QObject::connect(&t.link, &Line::reply_arrived, &f, [tp] {
        // A reply that comes in after the window unloaded lights no lamp: its timer would
        // outlive the window.
        if (!tp->form.is_unloaded()) light_lamp(tp->form.Receive_Shp, tp->form.Receive_Timer);
    });
}

void Send_Timer_Timer(Tool& t) {
    t.form.Send_Shp.set_visible(false);
    t.form.Send_Timer.stop();
}

void Receive_Timer_Timer(Tool& t) {
    t.form.Receive_Shp.set_visible(false);
    t.form.Receive_Timer.stop();
}
