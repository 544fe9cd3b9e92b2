#pragma once
#include "model/controls.h"

#include <QColor>
#include <QFont>
#include <QPalette>
#include <QRect>
#include <QSize>

class QWidget;

// The screen face of the model's units: twips to pixels, &H00BBGGRR and system colours to
// QColor, the model's font names to fonts this machine has.
namespace look {

// The system colours &H800000xx follow the desktop palette.
QColor color(Bgr_Colour c, const QPalette& system);
QColor color(Bgr_Colour c);

// The font at `zoom` times its size.
QFont font(const Font_Spec& f, double zoom = 1.0);

// Fonts the designs name that a Linux desktop rarely has, mapped to near metrics.
void install_font_substitutes();

// pixels = twips x logical DPI x zoom / 1440, each coordinate rounded on its own.
class Twips {
  public:
    explicit Twips(double dpi_x = 96, double dpi_y = 96) : dpi_x_(dpi_x), dpi_y_(dpi_y) {}
    static Twips of(const QWidget* w, double zoom = 1.0);
    int x(int twips) const;
    int y(int twips) const;
    QRect rect(int left, int top, int width, int height) const;
    QPoint point(int left, int top) const { return {x(left), y(top)}; }

  private:
    double dpi_x_, dpi_y_;
};

// The zoom, at most 1, that fits a window of `client` (the part that scales) and `chrome` (menu
// bar, window frame) within `available`, keeping its proportions.
double fit_zoom(QSize client, QSize chrome, QSize available);

} // namespace look
