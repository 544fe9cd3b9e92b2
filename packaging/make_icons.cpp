// Writes the tool's icon and the site file's icon as PNG files of the sizes a desktop asks for,
// each pixel of the 32 x 32 drawing a square of pixels: DIR/SIZExSIZE/apps/kalvenor.png and
// DIR/SIZExSIZE/mimetypes/application-x-kalvenor-site.png.
//   make_icons DIR
#include "app/ui/artwork.h"

#include <QDir>
#include <QImage>
#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) return std::fprintf(stderr, "usage: make_icons DIR\n"), 2;
    const struct {
        QImage image;
        const char* context;
        const char* name;
    } icons[] = {{artwork::app_icon_image(), "apps", "kalvenor"},
                 {artwork::site_icon_image(), "mimetypes", "application-x-kalvenor-site"}};
    for (const auto& icon : icons)
        for (const int size : {16, 24, 32, 48, 64, 128, 256}) {
            const QString dir = QStringLiteral("%1/%2x%2/%3")
                                    .arg(QString::fromLocal8Bit(argv[1]))
                                    .arg(size)
                                    .arg(QLatin1String(icon.context));
            if (!QDir().mkpath(dir)) return 1;
            const QImage scaled =
                icon.image.scaled(size, size, Qt::KeepAspectRatio, Qt::FastTransformation);
            if (!scaled.save(dir + QStringLiteral("/%1.png").arg(QLatin1String(icon.name))))
                return 1;
        }
    return 0;
}
