#include "app/ToolbarIcons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

constexpr int kSize = 32;

QPixmap Canvas() {
    QPixmap pixmap(kSize, kSize);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

// A card seen from the front, in `color`, with a contact chip.
void DrawCard(QPainter& p, const QColor& color) {
    p.setPen(QPen(color.darker(160), 1.2));
    p.setBrush(color);
    p.drawRoundedRect(QRectF(2.5, 7.5, 27, 18), 3, 3);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(232, 196, 90));
    p.drawRoundedRect(QRectF(6, 12, 7, 6), 1, 1);
}

}  // namespace

QIcon UserCardIcon() {
    QPixmap pixmap = Canvas();
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    DrawCard(p, QColor(70, 130, 200));
    p.setBrush(Qt::white);
    p.drawEllipse(QRectF(19, 10, 6, 6));               // head
    p.drawChord(QRectF(16, 16, 12, 10), 0, 180 * 16);  // shoulders
    return QIcon(pixmap);
}

QIcon ManageCardIcon() {
    QPixmap pixmap = Canvas();
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    DrawCard(p, QColor(220, 120, 50));
    // A key across the card.
    p.setPen(QPen(Qt::white, 2.2, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QRectF(16, 11, 7, 7));
    p.drawLine(QPointF(22, 17), QPointF(27, 22));
    p.drawLine(QPointF(25, 20), QPointF(23, 22));
    return QIcon(pixmap);
}

QIcon PortSettingsIcon() {
    QPixmap pixmap = Canvas();
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    // A nine-pin serial connector.
    QPainterPath shell;
    shell.moveTo(3, 9);
    shell.lineTo(29, 9);
    shell.lineTo(25, 23);
    shell.lineTo(7, 23);
    shell.closeSubpath();
    p.setPen(QPen(QColor(60, 60, 60), 1.5));
    p.setBrush(QColor(170, 175, 185));
    p.drawPath(shell);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(40, 40, 40));
    for (int i = 0; i < 5; ++i) {
        p.drawEllipse(QPointF(8 + i * 4.0, 13.5), 1.3, 1.3);
    }
    for (int i = 0; i < 4; ++i) {
        p.drawEllipse(QPointF(10 + i * 4.0, 18.5), 1.3, 1.3);
    }
    return QIcon(pixmap);
}

QIcon AboutIcon() {
    QPixmap pixmap = Canvas();
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(30, 80, 160), 1.5));
    p.setBrush(QColor(80, 140, 220));
    p.drawEllipse(QRectF(3, 3, 26, 26));
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(QRectF(14, 7.5, 4, 4));
    p.drawRoundedRect(QRectF(14, 13.5, 4, 11), 1.5, 1.5);
    return QIcon(pixmap);
}
