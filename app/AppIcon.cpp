#include "app/AppIcon.h"

#include <QPainter>
#include <QPainterPath>

QPixmap AppIconPixmap(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 64.0, size / 64.0);  // drawn on a 64 × 64 grid

    // The tile.
    QLinearGradient tile(0, 0, 0, 64);
    tile.setColorAt(0, QColor(36, 120, 110));
    tile.setColorAt(1, QColor(18, 70, 66));
    p.setPen(Qt::NoPen);
    p.setBrush(tile);
    p.drawRoundedRect(QRectF(2, 2, 60, 60), 12, 12);

    // The door, with its handle.
    p.setBrush(QColor(235, 225, 200));
    p.drawRoundedRect(QRectF(10, 9, 26, 46), 2.5, 2.5);
    p.setBrush(QColor(150, 110, 60));
    p.drawRect(QRectF(13, 12, 20, 40));
    p.setBrush(QColor(240, 200, 90));
    p.drawEllipse(QPointF(29, 33), 2.2, 2.2);

    // The card in front of it, with its chip and the waves of a contactless reader.
    p.save();
    p.translate(43, 38);
    p.rotate(-12);
    p.setPen(QPen(QColor(20, 50, 100), 1.2));
    p.setBrush(QColor(70, 140, 220));
    p.drawRoundedRect(QRectF(-15, -10, 30, 20), 3, 3);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(240, 200, 90));
    p.drawRoundedRect(QRectF(-11, -5, 8, 7), 1.2, 1.2);
    p.setPen(QPen(Qt::white, 2, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    for (int i = 0; i < 3; ++i) {
        const double r = 4 + i * 3.5;
        p.drawArc(QRectF(2 - r, -r, 2 * r, 2 * r), -45 * 16, 90 * 16);
    }
    p.restore();
    return pixmap;
}

QIcon AppIcon() {
    QIcon icon;
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        icon.addPixmap(AppIconPixmap(size));
    }
    return icon;
}
