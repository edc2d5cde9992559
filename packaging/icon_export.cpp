// Writes the program's icon as PNG files for the desktop's icon theme, from the same drawing
// the window and the tray show, so there is one picture. Run by the build:
//   beamclock_icon_export OUTPUT_DIR NAME   ->  OUTPUT_DIR/NxN/apps/NAME.png

#include <QDir>
#include <QGuiApplication>
#include <QPixmap>
#include <cstdio>

#include "ui/app_icon.h"

int main(int argc, char* argv[]) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR NAME\n", argv[0]);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QIcon icon = BeamclockIcon();
    for (QSize size : icon.availableSizes()) {
        QString folder =
            QStringLiteral("%1/%2x%3/apps").arg(argv[1]).arg(size.width()).arg(size.height());
        QString file = folder + "/" + QString::fromLocal8Bit(argv[2]) + ".png";
        if (!QDir().mkpath(folder) || !icon.pixmap(size).save(file, "PNG")) {
            std::fprintf(stderr, "could not write %s\n", qPrintable(file));
            return 1;
        }
    }
    return 0;
}
