#include "addresses/identity.h"

#include "addresses/params.h"
#include "addresses/search.h"
#include "engine/connection.h"
#include "engine/tempo.h"
#include "model/tool.h"

namespace {

struct Param_Row {
    uint8_t row;
    uint8_t code;
    const char* name;
};

// Rows 5 to 13 are read for type index 1, rows 5 to 14 for type index 3.
constexpr Param_Row Param_Rows[] = {
    {5, 12, "Valeur Initiale"},      {6, 1, "Seuil Alarme"},
    {7, 2, "Seuil Défaut"},          {8, 3, "Nombre de requêtes"},
    {9, 4, "Nombre de conv.Défaut"}, {10, 5, "Largeur Strobe"},
    {11, 6, "Type de moyenne"},      {12, 7, "Nombre de vérification Défaut"},
    {13, 15, "Délai ampli"},         {14, 16, "Mode détection"},
};

class Readout {
  public:
    Readout(Tool& t, uint8_t adr) : t_(t), f_(t.form), adr_(adr), ticket_(t.readouts.begin()) {}

    // Reads rows 2 to 4 and the parameter rows; false when a newer grid selection stopped it.
    bool read_details(uint8_t type_index) {
        if (!read_version_row(2, 0x14, QStringLiteral("Version PCB"))) return false;
        if (!read_version_row(3, 0x15, QStringLiteral("Version Soft"))) return false;
        if (!read_serial()) return false;

        int last_row = 0;
        if (type_index == 1) last_row = 13;
        if (type_index == 3) last_row = 14;
        for (const Param_Row& p : Param_Rows) {
            if (p.row > last_row) break;
            bool read = false;
            const bool on =
                Read_Param(t_, p.row, p.code, QString::fromUtf8(p.name), ticket_, &read);
            count(read);
            if (!on) return false;
        }
        return true;
    }

    // What the record keeps of this readout: complete when every byte came, failed when none
    // did, partial otherwise (a newer selection that cut it short included).
    record::Readout result() const {
        if (good_ == 0) return record::Readout::Failed;
        return bad_ == 0 && !moved() ? record::Readout::Complete : record::Readout::Partial;
    }
    bool attempted() const { return good_ + bad_ > 0; }

    // The type the search read for this found cell, read again when the board may have changed
    // since: the cell is corrected and the readout goes by what the detector says it is now.
    // False when the type cannot be read (no detector is shown) or a newer selection came.
    bool confirm_type() {
        uint8_t code = 0;
        const bool good = read_byte(0x13, &code);
        count(good);
        if (moved() || !good) return false;
        set_cell_type(t_, adr_, code);
        return pause();
    }

  private:
    bool moved() const { return ticket_.cancelled(); }

    void count(bool good) { ++(good ? good_ : bad_); }

    // One identity byte; a refused, failed or short reply gives false.
    bool read_byte(uint8_t code, uint8_t* data) {
        if (!t_.link.Send_Frame(code, adr_, 0x00, false, false)) return false;
        if (!t_.link.rx_has(2) || t_.link.rx(0) != 0) return false;
        *data = t_.link.rx(1);
        return true;
    }

    bool pause() {
        Tempo_Wait(t_, 50);
        return !moved();
    }

    bool read_version_row(int row, uint8_t code, const QString& name) {
        f_.Param_Lbl(row).set_caption(name);
        uint8_t data = 0;
        const bool good = read_byte(code, &data);
        if (moved()) return false;
        count(good);
        if (good) {
            f_.Value_Lbl(row).set_caption(record::version_text(data));
            t_.record.set_version(adr_, code == 0x15, data);
        }
        return pause();
    }

    bool read_serial() {
        f_.Param_Lbl(4).set_caption(QString::fromUtf8("N° série"));
        std::array<uint8_t, 4>& s = t_.state.Serial_Bytes;
        const uint8_t codes[4] = {0x08, 0x09, 0x0A, 0x0B};
        for (int i = 0; i < 4; ++i) {
            uint8_t data = 0;
            const bool good = read_byte(codes[i], &data);
            if (moved()) return false;
            count(good);
            if (good)
                s[i] = data;
            else
                s[0] = 0xFF; // the mark of an incomplete serial number
            if (i < 3 && !pause()) return false;
        }
        if (s[0] != 0xFF) {
            // Formed in unsigned arithmetic: the third part runs to 65535.
            const unsigned third = s[2] * 256u + s[3];
            const QString serial = QStringLiteral("%1%2%3")
                                       .arg(s[0], 2, 10, QLatin1Char('0'))
                                       .arg(s[1], 2, 10, QLatin1Char('0'))
                                       .arg(third, 5, 10, QLatin1Char('0'));
            f_.Value_Lbl(4).set_caption(serial);
            t_.record.set_serial(adr_, serial);
        }
        return true;
    }

    Tool& t_;
    Bus_Form& f_;
    const uint8_t adr_;
    const Readouts::Ticket ticket_;
    int good_ = 0;
    int bad_ = 0;
};

} // namespace

void Read_Identity(Tool& t) {
    Bus_Form& f = t.form;
    t.screen.set_mouse_pointer(Screen_Pointer::Hourglass);
    f.Opto_Check.set_visible(false);
    f.Thermo_Check.set_visible(false);
    f.Picture1.set_visible(false);
    f.Picture2.set_visible(false);
    for (int r = 0; r <= 4; ++r) {
        f.Value_Lbl(r).set_caption(QStringLiteral("???"));
        f.Value_Lbl(r).set_visible(true);
        f.Param_Lbl(r).set_visible(true);
    }
    t.panel_filled = true;

    const uint8_t adr = t.state.Sel_Adr;
    f.Param_Lbl(0).set_caption(QStringLiteral("Adresse"));
    f.Value_Lbl(0).set_caption(three_digits(adr));

    // Sel_Adr is 0 until the first grid click; such a readout reads nothing.
    const bool on_grid = adr >= 1 && adr <= 128;
    f.Param_Lbl(1).set_caption(QString::fromUtf8("Type détecteur"));
    Readout readout(t, adr);
    const bool found = on_grid && adr <= t.state.Adr_Count;
    if (found) t.record.readout_started(adr);
    const bool stale = found && t.type_sight[adr - 1] != t.board.sight();
    bool nothing_to_read = false;
    if (!stale || readout.confirm_type()) {
        const uint8_t type_index = on_grid ? t.state.Adr_Type[adr - 1] : 0;
        // The name its cell shows: the one the search read, "???" for none.
        const QString& name = t.record.at(adr).type_name;
        f.Value_Lbl(1).set_caption(name.isEmpty() ? QStringLiteral("???") : name);
        if (type_index != 0)
            readout.read_details(type_index);
        else
            nothing_to_read = found;
    }
    if (t.state.Quit_Flag) {
        // Given up for the program's end: nothing is learned of the detector.
    } else if (found && readout.attempted()) {
        // The board silent at the end (its last frame got no byte at all) or the port lost: the
        // detector cannot be blamed for what it was never asked.
        if (note_board_heard(t, t.link.last_reply().heard))
            t.record.readout_ended(adr, readout.result());
        else
            t.record.readout_unheard(adr);
    } else if (nothing_to_read) {
        t.record.readout_skipped(adr);
    }

    t.screen.set_mouse_pointer(Screen_Pointer::Default);
    set_task(t.state, Task::Probe_Interface);
    f.Led_On_Cde.set_visible(true);
    f.Led_Off_Cde.set_visible(true);
}
