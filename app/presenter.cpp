#include "app/presenter.h"

#include "model/tool.h"

namespace {

constexpr Bgr_Colour Answering_Colour = RGB(0, 255, 0);
constexpr Bgr_Colour Silent_Colour = RGB(255, 255, 0);

void show_board_fact(Bus_Form& f, const Board_State& b, Board_State::Fact fact) {
    switch (fact) {
    case Board_State::Fact::Answering:
        f.Connection_Lbl.set_caption(b.answering() ? QString::fromUtf8("Connecté ")
                                                   : QString::fromUtf8("Deconnecté"));
        f.Emul_Frm.set_back_color(b.answering() ? Answering_Colour : Silent_Colour);
        break;
    case Board_State::Fact::Version:
        if (b.version() >= 0)
            f.Version_Lbl.set_caption(QStringLiteral("(Ver.%1)").arg(interface_version(b)));
        f.Version_Lbl.set_visible(b.version() >= 0);
        break;
    case Board_State::Fact::Short_Circuit:
        f.Cc_Lbl.set_visible(b.short_circuit());
        break;
    }
}

} // namespace

void wire_presenter(Tool& t) {
    Bus_Form* f = &t.form;
    const Board_State* b = &t.board;
    QObject::connect(b, &Board_State::changed, f,
                     [f, b](Board_State::Fact fact) { show_board_fact(*f, *b, fact); });
}

QString interface_version(const Board_State& board) {
    const int v = board.version();
    return v < 0 ? QString::fromUtf8("non lue") : QStringLiteral("%1.%2").arg(v / 16).arg(v % 16);
}
