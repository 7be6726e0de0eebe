// The window icon, painted rather than shipped as an image file: a dark tile with a
// path of hops climbing towards a lit target, legible at 16 pixels as well as at 32.
#include "app_icon.h"
#include "resource.h"

#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace res {

QPixmap PaintMainIcon(int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size / 32.0;

    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x1d, 0x2b, 0x3a));
    p.drawRoundedRect(QRectF(1 * s, 1 * s, 30 * s, 30 * s), 5 * s, 5 * s);

    // Hops from the bottom left up to the target at the top right.
    const QPointF hops[] = { { 6 * s, 25 * s }, { 13 * s, 19 * s }, { 18 * s, 13 * s }, { 25 * s, 7 * s } };
    QPainterPath path(hops[0]);
    for (size_t i = 1; i < std::size(hops); ++i)
        path.lineTo(hops[i]);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(0x8f, 0xa8, 0xbf), qMax(1.0, 1.6 * s), Qt::SolidLine, Qt::RoundCap));
    p.drawPath(path);

    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xd9, 0xe4, 0xee));
    for (size_t i = 0; i + 1 < std::size(hops); ++i)
        p.drawEllipse(hops[i], 2.4 * s, 2.4 * s);

    // The target, lit like a lantern.
    QRadialGradient glow(hops[3], 6 * s);
    glow.setColorAt(0.0, QColor(0xff, 0xd2, 0x5a, 230));
    glow.setColorAt(1.0, QColor(0xff, 0xa0, 0x1e, 0));
    p.setBrush(glow);
    p.drawEllipse(hops[3], 6 * s, 6 * s);
    p.setBrush(QColor(0xff, 0xc8, 0x3c));
    p.drawEllipse(hops[3], 3.2 * s, 3.2 * s);
    p.end();
    return QPixmap::fromImage(image);
}

QIcon LoadIcon(int id)
{
    if (id != IDR_MAINFRAME)
        return {};
    QIcon icon;
    icon.addPixmap(PaintMainIcon(32));
    icon.addPixmap(PaintMainIcon(16));
    return icon;
}

} // namespace res
