// Writes the tool's icon as PNG files of the sizes a desktop asks for, each pixel of the 32 x 32
// drawing a square of pixels: DIR/SIZExSIZE/apps/kalvenor.png.
//   make_icons DIR
#include "app/ui/artwork.h"

#include <QDir>
#include <QImage>
#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) return std::fprintf(stderr, "usage: make_icons DIR\n"), 2;
    const QImage icon = artwork::app_icon_image();
    for (const int size : {16, 24, 32, 48, 64, 128, 256}) {
        const QString dir =
            QStringLiteral("%1/%2x%2/apps").arg(QString::fromLocal8Bit(argv[1])).arg(size);
        if (!QDir().mkpath(dir)) return 1;
        const QImage scaled = icon.scaled(size, size, Qt::KeepAspectRatio, Qt::FastTransformation);
        if (!scaled.save(dir + QStringLiteral("/kalvenor.png"))) return 1;
    }
    return 0;
}
