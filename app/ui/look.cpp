#include "app/ui/look.h"

#include <QApplication>
#include <QWidget>
#include <algorithm>
#include <cmath>

namespace look {

QColor color(Bgr_Colour c, const QPalette& system) {
    if (c & 0x80000000u) {
        switch (c & 0xFF) {
        case 0x05:
            return system.color(QPalette::Base);
        case 0x08:
            return system.color(QPalette::Text);
        // No workspace role in Qt: Dark is what its own MDI workspace paints with.
        case 0x0C:
            return system.color(QPalette::Dark);
        case 0x0F:
            return system.color(QPalette::Button);
        case 0x12:
            return system.color(QPalette::ButtonText);
        default:
            return system.color(QPalette::Window);
        }
    }
    return QColor(int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF));
}

QColor color(Bgr_Colour c) {
    return color(c, QApplication::palette());
}

QFont font(const Font_Spec& f, double zoom) {
    QFont font(f.Name);
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(f.Size * zoom);
    font.setBold(f.Bold);
    return font;
}

void install_font_substitutes() {
    static bool done = false;
    if (done) return;
    done = true;
    // A narrow sans first: the captions were fitted to a narrow bitmap font.
    QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"),
                               {QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"),
                                QStringLiteral("Nimbus Sans"), QStringLiteral("Arial"),
                                QStringLiteral("Helvetica"), QStringLiteral("DejaVu Sans")});
    QFont::insertSubstitutions(QStringLiteral("Arial"),
                               {QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"),
                                QStringLiteral("Nimbus Sans"), QStringLiteral("Helvetica"),
                                QStringLiteral("DejaVu Sans")});
}

Twips Twips::of(const QWidget* w, double zoom) {
    return Twips(w->logicalDpiX() * zoom, w->logicalDpiY() * zoom);
}

double fit_zoom(QSize client, QSize chrome, QSize available) {
    if (client.isEmpty()) return 1.0;
    const double x = double(available.width() - chrome.width()) / client.width();
    const double y = double(available.height() - chrome.height()) / client.height();
    // Never below a third: a screen that small gets what fits, rather than nothing readable.
    return std::clamp(std::min(x, y), 1.0 / 3, 1.0);
}

int Twips::x(int twips) const {
    return int(std::lround(double(twips) * dpi_x_ / 1440.0));
}

int Twips::y(int twips) const {
    return int(std::lround(double(twips) * dpi_y_ / 1440.0));
}

QRect Twips::rect(int left, int top, int width, int height) const {
    return QRect(x(left), y(top), x(width), y(height));
}

} // namespace look
