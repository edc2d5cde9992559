#include "ui/app_icon.h"

#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

QPixmap Draw(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 64.0, size / 64.0);

    // The infrared beam, fanning out from the emitter at the lower left.
    QPainterPath beam;
    beam.moveTo(6, 58);
    beam.lineTo(30, 26);
    beam.lineTo(40, 36);
    beam.closeSubpath();
    QLinearGradient glow(6, 58, 36, 30);
    glow.setColorAt(0, QColor(220, 30, 30, 240));
    glow.setColorAt(1, QColor(255, 90, 60, 60));
    painter.setPen(Qt::NoPen);
    painter.setBrush(glow);
    painter.drawPath(beam);
    painter.setBrush(QColor(120, 10, 10));
    painter.drawEllipse(QPointF(7, 57), 5, 5);

    // The clock face.
    QPointF centre(38, 26);
    painter.setPen(QPen(QColor(30, 40, 60), 3));
    painter.setBrush(QColor(250, 250, 245));
    painter.drawEllipse(centre, 22, 22);
    painter.setPen(QPen(QColor(30, 40, 60), 2, Qt::SolidLine, Qt::RoundCap));
    for (int hour = 0; hour < 12; ++hour) {
        painter.save();
        painter.translate(centre);
        painter.rotate(hour * 30);
        painter.drawLine(QPointF(0, -18), QPointF(0, hour % 3 == 0 ? -14 : -16));
        painter.restore();
    }
    painter.setPen(QPen(QColor(30, 40, 60), 3, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(centre, centre + QPointF(0, -13));  // minute hand at twelve
    painter.drawLine(centre, centre + QPointF(9, 4));    // hour hand near four
    painter.setPen(QPen(QColor(210, 30, 30), 1.5, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(centre, centre + QPointF(-11, 11));  // second hand towards the beam
    return pixmap;
}

// A warning triangle over the lower right, large enough to read at the tray's 16 pixels.
void DrawWarning(QPixmap& pixmap) {
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(pixmap.width() / 64.0, pixmap.height() / 64.0);
    QPainterPath triangle;
    triangle.moveTo(46, 26);
    triangle.lineTo(64, 62);
    triangle.lineTo(28, 62);
    triangle.closeSubpath();
    painter.setPen(QPen(QColor(60, 40, 0), 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(QColor(255, 190, 0));
    painter.drawPath(triangle);
    painter.setPen(QPen(QColor(20, 20, 20), 5, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(46, 38), QPointF(46, 49));
    painter.drawPoint(QPointF(46, 56));
}

// Grey and faded, as desktops show what is switched off.
QPixmap Dimmed(const QPixmap& pixmap) {
    QImage image = pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            int grey = qGray(line[x]);
            line[x] = qRgba(grey, grey, grey, qAlpha(line[x]) * 2 / 5);
        }
    }
    return QPixmap::fromImage(image);
}

}  // namespace

QIcon BeamclockIcon(IconMark mark) {
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        QPixmap pixmap = Draw(size);
        if (mark == IconMark::Warning) {
            DrawWarning(pixmap);
        } else if (mark == IconMark::Dimmed) {
            pixmap = Dimmed(pixmap);
        }
        icon.addPixmap(pixmap);
    }
    return icon;
}
