#include "timeline_painter.h"

#include <QPainter>
#include <QPainterPath>
#include <QPalette>

#include <algorithm>

QColor ForwardLossColor()
{
    return QColor(214, 39, 40);
}

QColor DeclinedLossColor(const QPalette& palette)
{
    return palette.color(QPalette::Disabled, QPalette::Text);
}

QColor MedianColor(double lossFraction)
{
    return QColor::fromHsvF(float(LossHue(lossFraction * 100) / 360.0), 0.85f, 0.7f);
}

namespace {
double ForwardLossFraction(const TimelinePoint& p)
{
    return p.decided ? double(p.forwardLost) / p.decided : 0;
}
} // namespace

void PaintTimeline(QPainter& painter, const QRectF& rect, const TimelineSlice& slice, const QPalette& palette)
{
    const auto n = qsizetype(slice.points.size());
    if (n == 0 || rect.width() <= 0 || rect.height() <= 0)
        return;
    painter.save();
    painter.setClipRect(rect);
    const double w = rect.width() / double(n);
    const double scale = slice.scaleUs > 0 ? slice.scaleUs : 1;
    auto y = [&](double us) { return rect.bottom() - std::min(us / scale, 1.0) * rect.height(); };
    auto x = [&](qsizetype i) { return rect.left() + double(i) * w; };

    // Loss first, so the spread and the median stay readable over it.
    const QColor declined = DeclinedLossColor(palette);
    for (qsizetype i = 0; i < n; ++i) {
        const TimelinePoint& p = slice.points[size_t(i)];
        if (p.decided == 0 || p.lost == 0)
            continue;
        const double strongH = rect.height() * p.forwardLost / p.decided;
        const double mutedH = rect.height() * (p.lost - p.forwardLost) / p.decided;
        const double width = std::max(w, 1.0);
        painter.fillRect(QRectF(x(i), rect.bottom() - strongH, width, strongH), ForwardLossColor());
        painter.fillRect(QRectF(x(i), rect.bottom() - strongH - mutedH, width, mutedH), declined);
    }
    // The spread, a light band. It and the median take their colour from the loss that carries
    // on: a router declining to answer is no fault of the path, and is told by its marks alone.
    painter.setRenderHint(QPainter::Antialiasing, true);
    for (qsizetype i = 0; i < n; ++i) {
        const TimelinePoint& p = slice.points[size_t(i)];
        if (!p.p10Us || !p.p90Us)
            continue;
        QColor band = MedianColor(ForwardLossFraction(p));
        band.setAlpha(60);
        painter.fillRect(QRectF(x(i), y(*p.p90Us), w, std::max(y(*p.p10Us) - y(*p.p90Us), 1.0)), band);
    }
    // The median, a line from point to point, each stretch coloured by the loss where it ends.
    for (qsizetype i = 0; i < n; ++i) {
        const TimelinePoint& p = slice.points[size_t(i)];
        if (!p.medianUs)
            continue;
        QPen pen(MedianColor(ForwardLossFraction(p)), 1.5);
        pen.setCapStyle(Qt::FlatCap);
        painter.setPen(pen);
        const QPointF here(x(i) + w / 2, y(*p.medianUs));
        const TimelinePoint* before = i > 0 ? &slice.points[size_t(i - 1)] : nullptr;
        if (before && before->medianUs)
            painter.drawLine(QPointF(x(i - 1) + w / 2, y(*before->medianUs)), here);
        else
            painter.drawLine(QPointF(x(i), here.y()), QPointF(x(i) + w, here.y()));
    }
    painter.restore();
}
