#include "support/link_wiring.h"

#include "link/com_port.h"
#include "link/exchange.h"
#include "link/tempo.h"
#include "support/harness.h"

#include <QTimer>

void Wire_Link_Events(Tool& t) {
    Tool* tp = &t;
    Bus_Form& f = t.F;
    const std::pair<QTimer*, void (*)(Tool&)> timers[] = {
        {&f.Timer_Tache, Timer_Tache_Timer},       {&f.Tempo, Tempo_Timer},
        {&f.Timer_Time_Out, Timer_Time_Out_Timer}, {&f.Send_Timer, Send_Timer_Timer},
        {&f.Receive_Timer, Receive_Timer_Timer},   {&t.Port_Retry, Port_Retry_Timer_Timer},
    };
    for (const auto& [timer, handler] : timers)
        QObject::connect(timer, &QTimer::timeout, &f, [tp, handler = handler] { handler(*tp); });
    if (t.Comm1)
        QObject::connect(t.Comm1.get(), &Serial_Port::Comm_Event, &f, [tp] { Comm1_OnComm(*tp); });
}

void Open_Quiet(Harness& h) {
    Wire_Link_Events(h.t);
    h.open();
    h.t.F.Timer_Tache.stop();
    h.board.clear_traffic();
}

Line_Clock::Line_Clock(loopsim::Board& board) {
    clock_.start();
    QObject::connect(&board, &loopsim::Board::byte_received, &context_, [this](quint8 b) {
        bytes.append({b, clock_.elapsed()});
    });
}

QByteArray bytes(std::initializer_list<int> values) {
    QByteArray out;
    for (int v : values)
        out.append(static_cast<char>(v));
    return out;
}
