#include "app/ui/artwork.h"

#include <QPainter>

namespace artwork {

namespace {
// The standard 16-colour palette.
const QColor Black(0x00, 0x00, 0x00), Maroon(0x80, 0x00, 0x00), Green(0x00, 0x80, 0x00),
    Olive(0x80, 0x80, 0x00), Navy(0x00, 0x00, 0x80), Teal(0x00, 0x80, 0x80),
    Silver(0xC0, 0xC0, 0xC0), Grey(0x80, 0x80, 0x80), Red(0xFF, 0x00, 0x00), Lime(0x00, 0xFF, 0x00),
    Yellow(0xFF, 0xFF, 0x00), Blue(0x00, 0x00, 0xFF), Aqua(0x00, 0xFF, 0xFF),
    White(0xFF, 0xFF, 0xFF);

QImage canvas(int w, int h) {
    QImage img(w, h, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    return img;
}

// Pixel art: no smoothing, so every pixel keeps one of the palette's colours.
QImage to_16_colours(const QImage& img) {
    return img.convertToFormat(QImage::Format_Indexed8, Palette16(),
                               Qt::ThresholdDither | Qt::ThresholdAlphaDither | Qt::AvoidDither);
}

void px(QPainter& p, int x, int y, const QColor& c) {
    p.fillRect(x, y, 1, 1, c);
}
} // namespace

QVector<QRgb> Palette16() {
    QVector<QRgb> table;
    for (const QColor& c :
         {Black, Maroon, Green, Olive, Navy, QColor(0x80, 0x00, 0x80), Teal, Silver, Grey, Red,
          Lime, Yellow, Blue, QColor(0xFF, 0x00, 0xFF), Aqua, White})
        table << c.rgb();
    table << qRgba(0, 0, 0, 0);
    return table;
}

QImage app_icon_image() {
    QImage img = canvas(32, 32);
    QPainter p(&img);

    // The loop: a cyan ring round a dark ceiling, the interface board on its left side.
    p.setPen(QPen(Aqua, 2));
    p.setBrush(Navy);
    p.drawRoundedRect(QRect(2, 3, 27, 26), 5, 5);
    p.fillRect(QRect(0, 12, 5, 8), Grey);
    p.fillRect(QRect(1, 13, 2, 1), Lime);
    // Two more points on the loop.
    p.fillRect(QRect(27, 9, 4, 3), Silver);
    p.fillRect(QRect(27, 21, 4, 3), Silver);

    // The detector head: mounting base against the ceiling, dome below, smoke slots, LED.
    p.fillRect(QRect(8, 7, 16, 3), Silver);
    p.fillRect(QRect(8, 9, 16, 1), Grey);
    p.setPen(Black);
    p.setBrush(White);
    p.drawChord(QRect(8, 0, 15, 22), 180 * 16, 180 * 16);
    for (int x = 11; x <= 20; x += 3)
        p.fillRect(QRect(x, 13, 2, 1), Grey);
    p.fillRect(QRect(15, 17, 2, 2), Red);
    px(p, 15, 17, Yellow);
    p.end();
    return to_16_colours(img);
}

// Every shape but the LED's glint at least two pixels across, so that it still shows in the
// 16-pixel icon, which keeps one pixel of every two.
QImage site_icon_image() {
    QImage img = canvas(32, 32);
    QPainter p(&img);
    p.setCompositionMode(QPainter::CompositionMode_Source);

    // The sheet: a black edge lined with grey, its top right corner folded down.
    p.fillRect(QRect(3, 0, 26, 32), Black);
    p.fillRect(QRect(4, 1, 24, 30), Grey);
    p.fillRect(QRect(5, 2, 22, 28), White);
    for (int y = 0; y < 8; ++y)
        for (int x = 21; x < 29; ++x) {
            const int d = x - 21 - y; // 0 on the fold's edge
            px(p, x, y,
               d > 1                         ? QColor(Qt::transparent)
               : d >= 0 || x == 21 || y == 7 ? Black
                                             : Silver);
        }
    // Two lines of text.
    p.fillRect(QRect(7, 4, 11, 2), Grey);
    p.fillRect(QRect(7, 8, 14, 2), Grey);

    // The app's mark, at half its size: the loop, a cyan ring with its corners rounded round a
    // dark ceiling, and the interface board on its left side.
    p.fillRect(QRect(9, 12, 16, 16), Aqua);
    for (const QPoint& corner : {QPoint(9, 12), QPoint(23, 12), QPoint(9, 26), QPoint(23, 26)})
        p.fillRect(QRect(corner, QSize(2, 2)), White);
    p.fillRect(QRect(11, 14, 12, 12), Navy);
    for (const QPoint& corner : {QPoint(11, 14), QPoint(21, 14), QPoint(11, 24), QPoint(21, 24)})
        p.fillRect(QRect(corner, QSize(2, 2)), Aqua);
    p.fillRect(QRect(6, 17, 5, 6), Grey);
    p.fillRect(QRect(7, 18, 2, 2), Lime);
    // The detector head: base against the ceiling, dome, LED.
    p.fillRect(QRect(13, 14, 8, 2), Silver);
    p.fillRect(QRect(13, 16, 8, 2), White);
    p.fillRect(QRect(14, 18, 6, 2), White);
    p.fillRect(QRect(15, 20, 4, 1), White);
    p.fillRect(QRect(16, 18, 2, 2), Red);
    px(p, 16, 18, Yellow);
    p.end();
    return to_16_colours(img);
}

QImage thermometer_image() {
    QImage img = canvas(20, 30);
    QPainter p(&img);
    // Glass tube and bulb.
    p.setPen(Black);
    p.setBrush(White);
    p.drawRect(QRect(8, 2, 4, 20));
    p.setBrush(Red);
    p.drawEllipse(QRect(6, 20, 8, 8));
    p.fillRect(QRect(9, 2, 3, 1), Silver);
    // Mercury column.
    p.fillRect(QRect(9, 9, 3, 14), Red);
    px(p, 9, 23, Red);
    px(p, 8, 23, Red);
    px(p, 12, 23, Red);
    px(p, 8, 24, Maroon);
    // Scale.
    for (int y = 4; y <= 20; y += 4)
        p.fillRect(QRect(14, y, 3, 1), Navy);
    for (int y = 6; y <= 18; y += 4)
        p.fillRect(QRect(14, y, 2, 1), Grey);
    // Bulb highlight.
    px(p, 8, 22, White);
    p.end();
    return to_16_colours(img);
}

QImage smoke_chamber_image() {
    QImage img = canvas(20, 30);
    QPainter p(&img);
    // Chamber wall with its labyrinth teeth.
    p.setPen(Grey);
    p.setBrush(Silver);
    p.drawEllipse(QRect(0, 5, 19, 19));
    p.setBrush(Black);
    p.drawEllipse(QRect(2, 7, 15, 15));
    for (const QPoint& tooth : {QPoint(9, 7), QPoint(9, 21), QPoint(2, 14), QPoint(16, 14)})
        px(p, tooth.x(), tooth.y(), Grey);
    // Smoke drifting through the middle.
    for (const QPoint& s : {QPoint(7, 12), QPoint(8, 11), QPoint(10, 13), QPoint(11, 12),
                            QPoint(9, 14), QPoint(12, 15), QPoint(8, 16), QPoint(10, 17),
                            QPoint(6, 15), QPoint(11, 10), QPoint(13, 13)})
        px(p, s.x(), s.y(), Silver);
    px(p, 9, 13, White);
    px(p, 11, 15, White);
    // Emitter at the lower left, receiver at the lower right, off the direct beam.
    p.fillRect(QRect(1, 18, 4, 4), Navy);
    px(p, 4, 18, Red);
    p.fillRect(QRect(15, 18, 4, 4), Green);
    px(p, 15, 18, Lime);
    // The emitted beam, and the light the smoke scatters towards the receiver.
    p.setPen(Red);
    p.drawLine(5, 17, 9, 13);
    p.setPen(Yellow);
    p.drawLine(10, 13, 14, 17);
    p.end();
    return to_16_colours(img);
}

QIcon app_icon() {
    QIcon icon;
    icon.addPixmap(QPixmap::fromImage(app_icon_image()));
    return icon;
}

} // namespace artwork
