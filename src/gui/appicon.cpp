#include "gui/appicon.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace quorvale {

QPixmap appPixmap(int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 64.0, size / 64.0);

    // A blue tile with a white envelope and a small green tick: "the mail went out".
    QLinearGradient tile(0, 0, 0, 64);
    tile.setColorAt(0, QColor(0x2f, 0x6f, 0xb5));
    tile.setColorAt(1, QColor(0x1d, 0x4a, 0x80));
    p.setPen(Qt::NoPen);
    p.setBrush(tile);
    p.drawRoundedRect(QRectF(2, 2, 60, 60), 12, 12);

    const QRectF envelope(11, 18, 42, 29);
    p.setBrush(QColor(0xfa, 0xfa, 0xfa));
    p.setPen(QPen(QColor(0xd0, 0xd8, 0xe4), 1.5));
    p.drawRoundedRect(envelope, 3, 3);
    QPainterPath flap;
    flap.moveTo(envelope.topLeft() + QPointF(1.5, 1.5));
    flap.lineTo(envelope.center() + QPointF(0, 3));
    flap.lineTo(envelope.topRight() + QPointF(-1.5, 1.5));
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(0x8a, 0x9b, 0xb3), 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(flap);

    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x3c, 0xb3, 0x71));
    p.drawEllipse(QPointF(48, 46), 10, 10);
    QPainterPath tick;
    tick.moveTo(43.5, 46.5);
    tick.lineTo(47, 50);
    tick.lineTo(53, 42.5);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(Qt::white, 2.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(tick);
    return pixmap;
}

QPixmap tickPixmap(int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 64.0, size / 64.0);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x3c, 0xb3, 0x71));
    p.drawEllipse(QPointF(32, 32), 28, 28);
    QPainterPath tick;
    tick.moveTo(19, 33);
    tick.lineTo(28, 42);
    tick.lineTo(45, 22);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(Qt::white, 6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(tick);
    return pixmap;
}

QIcon appIcon()
{
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addPixmap(appPixmap(size));
    return icon;
}

} // namespace quorvale
