#include "addresses/params.h"

#include "engine/tempo.h"
#include "model/tool.h"

namespace {

constexpr uint8_t Mode_Code = 16;

void show_row(Bus_Form& f, uint8_t row, const QString& name) {
    f.Value_Lbl(row).set_caption(QStringLiteral("???"));
    f.Value_Lbl(row).set_visible(true);
    f.Param_Lbl(row).set_visible(true);
    f.Param_Lbl(row).set_caption(name);
}

// Mode byte: bit 2 optical element off, bit 1 thermal element off, bit 4 static thermal.
void show_mode(Tool& t, uint8_t row, const QString& name, uint8_t m) {
    Bus_Form& f = t.form;
    // Setting the boxes raises their Click; the handlers must leave them alone meanwhile.
    t.state.Check_Lock = true;
    show_row(f, row, name);
    f.Opto_Check.set_visible(true);
    f.Thermo_Check.set_visible(true);
    f.Picture1.set_visible(true);
    f.Picture2.set_visible(true);

    QString text;
    uint8_t mode = 0;
    if (m & 0x02)
        mode += 2;
    else
        text = QStringLiteral("Optique ");
    if (m & 0x01)
        mode += 1;
    else
        text += (m & 0x04) ? QStringLiteral("Statique") : QString::fromUtf8("Thermovélo");
    f.Value_Lbl(row).set_caption(text);

    f.Opto_Check.set_value(1);
    f.Thermo_Check.set_value(1);
    // Both elements off cannot be shown: the optical one is kept on.
    if (mode & 0x01) {
        f.Opto_Check.set_value(1);
        f.Thermo_Check.set_value(0);
        mode = 1;
    }
    if (mode & 0x02) {
        f.Thermo_Check.set_value(1);
        f.Opto_Check.set_value(0);
        mode = 2;
    }
    t.state.Sensor_Mode = mode;
    t.state.Check_Lock = false;
}

} // namespace

bool Read_Param(Tool& t, uint8_t row, uint8_t code, const QString& name,
                const Readouts::Ticket& readout, bool* read) {
    if (read) *read = false;
    auto moved = [&] { return readout.cancelled(); };
    const bool plain = code <= 15;
    if (plain) show_row(t.form, row, name);

    Tempo_Wait(t, 50);
    if (moved()) return false;
    const uint8_t frame_code = plain ? code : static_cast<uint8_t>(code + 8);
    const bool ok = t.link.Send_Frame(frame_code, t.state.Sel_Adr, 0x00, false, false);
    if (moved()) return false;
    if (!ok || !t.link.rx_has(2) || t.link.rx(0) != 0) return true;

    const uint8_t value = t.link.rx(1);
    if (read) *read = true;
    t.record.set_param(t.state.Sel_Adr, code, value);
    if (plain)
        t.form.Value_Lbl(row).set_caption(QStringLiteral("%1").arg(value, 3, 10, QLatin1Char('0')));
    else if (code == Mode_Code)
        show_mode(t, row, name, value);
    return true;
}

