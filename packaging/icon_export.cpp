// Writes the program's icon for the desktops, from the same drawing the window and the tray
// show, so there is one picture. Run by the build:
//   beamclock_icon_export OUTPUT_DIR NAME  ->  OUTPUT_DIR/NxN/apps/NAME.png (the icon theme)
//   beamclock_icon_export --ico FILE       ->  a Windows icon with every size, as PNG images
//   beamclock_icon_export --looks FILE     ->  the tray's three looks side by side, for the README

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QPainter>
#include <QPixmap>
#include <QtEndian>
#include <cstdio>

#include "ui/app_icon.h"

namespace {

int WriteThemeIcons(const QIcon& icon, const QString& directory, const QString& name) {
    for (QSize size : icon.availableSizes()) {
        QString folder =
            QStringLiteral("%1/%2x%3/apps").arg(directory).arg(size.width()).arg(size.height());
        QString file = folder + "/" + name + ".png";
        if (!QDir().mkpath(folder) || !icon.pixmap(size).save(file, "PNG")) {
            std::fprintf(stderr, "could not write %s\n", qPrintable(file));
            return 1;
        }
    }
    return 0;
}

template <typename Number>
void Put(QByteArray& out, Number value) {
    Number little = qToLittleEndian(value);
    out.append(reinterpret_cast<const char*>(&little), sizeof little);
}

// An .ico file: a directory of images, each a PNG (which Windows reads since Vista).
int WriteIco(const QIcon& icon, const QString& file) {
    QList<QSize> sizes = icon.availableSizes();
    QList<QByteArray> images;
    for (QSize size : sizes) {
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        icon.pixmap(size).save(&buffer, "PNG");
        images.append(png);
    }
    QByteArray out;
    Put<quint16>(out, 0);
    Put<quint16>(out, 1);  // an icon, not a cursor
    Put<quint16>(out, static_cast<quint16>(images.size()));
    quint32 offset = 6 + 16 * static_cast<quint32>(images.size());
    for (qsizetype i = 0; i < images.size(); ++i) {
        out.append(static_cast<char>(sizes[i].width() >= 256 ? 0 : sizes[i].width()));
        out.append(static_cast<char>(sizes[i].height() >= 256 ? 0 : sizes[i].height()));
        out.append('\0');  // no palette
        out.append('\0');
        Put<quint16>(out, 1);   // planes
        Put<quint16>(out, 32);  // bits a pixel
        Put<quint32>(out, static_cast<quint32>(images[i].size()));
        Put<quint32>(out, offset);
        offset += static_cast<quint32>(images[i].size());
    }
    for (const QByteArray& image : images) {
        out.append(image);
    }
    QFile target(file);
    if (!target.open(QIODevice::WriteOnly) || target.write(out) != out.size()) {
        std::fprintf(stderr, "could not write %s\n", qPrintable(file));
        return 1;
    }
    return 0;
}

// Sending, not sending because of a fault, not sending by choice: as the tray shows them.
int WriteLooks(const QString& file) {
    constexpr int kSize = 48;
    constexpr int kGap = 16;
    QPixmap looks(3 * kSize + 2 * kGap, kSize);
    looks.fill(Qt::transparent);
    QPainter painter(&looks);
    int x = 0;
    for (IconMark mark : {IconMark::None, IconMark::Warning, IconMark::Dimmed}) {
        painter.drawPixmap(x, 0, BeamclockIcon(mark).pixmap(kSize));
        x += kSize + kGap;
    }
    painter.end();
    if (!looks.save(file, "PNG")) {
        std::fprintf(stderr, "could not write %s\n", file.toLocal8Bit().constData());
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR NAME | --ico FILE | --looks FILE\n", argv[0]);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QIcon icon = BeamclockIcon();
    if (QString::fromLocal8Bit(argv[1]) == "--ico") {
        return WriteIco(icon, QString::fromLocal8Bit(argv[2]));
    }
    if (QString::fromLocal8Bit(argv[1]) == "--looks") {
        return WriteLooks(QString::fromLocal8Bit(argv[2]));
    }
    return WriteThemeIcons(icon, QString::fromLocal8Bit(argv[1]), QString::fromLocal8Bit(argv[2]));
}
