#pragma once
#include "timeline.h"

#include <QColor>
#include <QRectF>

class QPainter;
class QPalette;

// Draws a hop's timeline into `rect`, the Timeline cells and the hop chart alike: each
// point's lost share as a bar from the bottom (a lost round: the whole height), strong
// red where the loss carries on down the path, the palette's muted colour for what the
// router declined; over it the p10-p90 spread as a light band and the median as a line
// coloured by the point's loss that carries on (what a router declines leaves it as it
// is), as LossHue (timeline.h) has it. Round trips from 0 at the bottom to slice.scaleUs
// at the top.
void PaintTimeline(QPainter& painter, const QRectF& rect, const TimelineSlice& slice, const QPalette& palette);

// The colours it uses, for tests and legends.
QColor ForwardLossColor();
QColor DeclinedLossColor(const QPalette& palette);
QColor MedianColor(double lossFraction);
