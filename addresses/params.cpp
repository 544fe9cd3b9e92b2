#include "addresses/params.h"

#include "engine/tempo.h"
#include "model/tool.h"

namespace {

constexpr uint8_t Mode_Code = 16;

void Show_Row(Bus_Form& f, uint8_t row, const QString& name) {
    f.Value_Lbl(row).setCaption(QStringLiteral("???"));
    f.Value_Lbl(row).setVisible(true);
    f.Param_Lbl(row).setVisible(true);
    f.Param_Lbl(row).setCaption(name);
}

// Mode byte: bit 2 optical element off, bit 1 thermal element off, bit 4 static thermal.
void Show_Mode(Tool& t, uint8_t row, const QString& name, uint8_t m) {
    Bus_Form& f = t.F;
    // Setting the boxes raises their Click; the handlers must leave them alone meanwhile.
    t.S.Check_Lock = true;
    Show_Row(f, row, name);
    f.Opto_Check.setVisible(true);
    f.Thermo_Check.setVisible(true);
    f.Picture1.setVisible(true);
    f.Picture2.setVisible(true);

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
    f.Value_Lbl(row).setCaption(text);

    f.Opto_Check.setValue(1);
    f.Thermo_Check.setValue(1);
    // Both elements off cannot be shown: the optical one is kept on.
    if (mode & 0x01) {
        f.Opto_Check.setValue(1);
        f.Thermo_Check.setValue(0);
        mode = 1;
    }
    if (mode & 0x02) {
        f.Thermo_Check.setValue(1);
        f.Opto_Check.setValue(0);
        mode = 2;
    }
    t.S.Sensor_Mode = mode;
    t.S.Check_Lock = false;
}

} // namespace

bool Read_Param(Tool& t, uint8_t row, uint8_t code, const QString& name, uint16_t selection) {
    auto moved = [&] { return t.S.Selection_Count != selection; };
    const bool plain = code <= 15;
    if (plain) Show_Row(t.F, row, name);

    Tempo_Wait(t, 50);
    if (moved()) return false;
    const uint8_t frame_code = plain ? code : static_cast<uint8_t>(code + 8);
    const bool ok = t.Link.Send_Frame(frame_code, t.S.Sel_Adr, 0x00, false, false);
    if (moved()) return false;
    if (!ok || !t.Link.Rx_Has(2) || t.Link.Rx(0) != 0) return true;

    const uint8_t value = t.Link.Rx(1);
    if (plain)
        t.F.Value_Lbl(row).setCaption(QStringLiteral("%1").arg(value, 3, 10, QLatin1Char('0')));
    else if (code == Mode_Code)
        Show_Mode(t, row, name, value);
    return true;
}

void Read_Param(Tool& t, uint8_t row, uint8_t code, const QString& name) {
    Read_Param(t, row, code, name, t.S.Selection_Count);
}
