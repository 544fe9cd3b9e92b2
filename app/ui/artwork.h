#pragma once
#include <QIcon>
#include <QImage>
#include <QPixmap>

// The tool's own pictures, drawn here in the 16 colours of the standard palette.
namespace artwork {

QImage app_icon_image();      // 32 x 32: a detector head on its loop
QImage site_icon_image();     // 32 x 32: a site file, a sheet carrying the loop and its detector
QImage thermometer_image();   // 20 x 30, beside the thermal element's check box (Picture1)
QImage smoke_chamber_image(); // 20 x 30, beside the optical element's check box (Picture2)

QIcon app_icon();

// The 16 colours the pictures are limited to, plus a transparent entry.
QVector<QRgb> Palette16();

} // namespace artwork
