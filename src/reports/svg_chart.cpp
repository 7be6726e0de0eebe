#include "svg_chart.h"

#include "timeline.h"

#include <QStringList>

#include <algorithm>
#include <cmath>

namespace {

// The drawing's own units (a viewBox): the page scales it to its width.
constexpr double kWidth = 760, kLeft = 56, kRight = 750;
constexpr double kPlotTop = 8, kPlotBottom = 100, kLossTop = 104, kLossBottom = 120, kHeight = 136;

QString Num(double v)
{
    return QString::number(v, 'f', 1);
}

// LossHue's colour; grey when the loss is unknown.
QString LossColour(const std::optional<double>& forwardPct)
{
    if (!forwardPct)
        return QStringLiteral("#888888");
    return QStringLiteral("hsl(%1,75%,38%)").arg(std::lround(LossHue(*forwardPct)));
}

// A round number of milliseconds (1, 2 or 5 times a power of ten) at or above `ms`.
double NiceCeiling(double ms)
{
    const double power = std::pow(10.0, std::floor(std::log10(std::max(ms, 0.01))));
    for (double step : { 1.0, 2.0, 5.0, 10.0 })
        if (step * power >= ms)
            return step * power;
    return 10 * power;
}

QString MsLabel(double ms)
{
    return ms < 1 ? QString::number(ms, 'g', 2) + QStringLiteral(" ms") : QString::number(ms, 'f', 0) + " ms";
}

} // namespace

QString HopChartSvg(const WatchSeries& series, size_t hop, const std::vector<ChartMark>& routeChanges,
    const std::function<QString(int64_t)>& timeLabel)
{
    const std::vector<SeriesPoint>& points = series.hops.at(hop);
    const double n = std::max<double>(1, double(points.size()));
    const double slot = (kRight - kLeft) / n;
    const auto x = [&](size_t i) { return kLeft + (double(i) + 0.5) * slot; };
    const int64_t spanUs = std::max<int64_t>(1, int64_t(points.size()) * series.stepUs);
    const auto xAt
        = [&](int64_t timeUs) { return kLeft + double(timeUs - series.firstUs) / double(spanUs) * (kRight - kLeft); };
    double topMs = 0;
    for (const SeriesPoint& p : points)
        if (p.received > 0)
            topMs = std::max(topMs, p.rtt.p90Us / 1000);
    topMs = NiceCeiling(topMs);
    const auto y = [&](double us) { return kPlotBottom - std::min(us / 1000 / topMs, 1.0) * (kPlotBottom - kPlotTop); };

    QString svg = QStringLiteral("<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 %1 %2\" class=\"chart\" "
                                 "role=\"img\">\n")
                      .arg(kWidth)
                      .arg(kHeight);
    // The line's colour follows the loss along x: hard stops where a point's colour differs
    // from the one before.
    const QString gradient = QStringLiteral("loss%1").arg(hop + 1);
    svg += QStringLiteral("<defs><linearGradient id=\"%1\" gradientUnits=\"userSpaceOnUse\" x1=\"%2\" y1=\"0\" "
                          "x2=\"%3\" y2=\"0\">")
               .arg(gradient, Num(kLeft), Num(kRight));
    QString previous;
    for (size_t i = 0; i < points.size(); ++i) {
        const QString colour = LossColour(points[i].period.forwardPct);
        if (colour == previous)
            continue;
        const QString offset = QString::number(double(i) / n, 'f', 5);
        if (!previous.isEmpty())
            svg += QStringLiteral("<stop offset=\"%1\" stop-color=\"%2\"/>").arg(offset, previous);
        svg += QStringLiteral("<stop offset=\"%1\" stop-color=\"%2\"/>").arg(offset, colour);
        previous = colour;
    }
    svg += QStringLiteral("</linearGradient></defs>\n");

    // Axes: the RTT scale at the left, the watch's start and end beneath.
    svg += QStringLiteral("<rect class=\"plot\" x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\"/>\n")
               .arg(Num(kLeft), Num(kPlotTop), Num(kRight - kLeft), Num(kPlotBottom - kPlotTop));
    svg += QStringLiteral("<text class=\"axis\" x=\"%1\" y=\"%2\" text-anchor=\"end\">%3</text>"
                          "<text class=\"axis\" x=\"%1\" y=\"%4\" text-anchor=\"end\">0</text>"
                          "<text class=\"axis\" x=\"%1\" y=\"%5\" text-anchor=\"end\">loss</text>\n")
               .arg(Num(kLeft - 4), Num(kPlotTop + 8), MsLabel(topMs), Num(kPlotBottom), Num(kLossBottom - 3));
    svg += QStringLiteral("<text class=\"axis\" x=\"%1\" y=\"%2\">%3</text>"
                          "<text class=\"axis\" x=\"%4\" y=\"%2\" text-anchor=\"end\">%5</text>\n")
               .arg(Num(kLeft), Num(kHeight - 3), timeLabel(series.firstUs).toHtmlEscaped(), Num(kRight),
                   timeLabel(series.firstUs + spanUs).toHtmlEscaped());

    // Runs of consecutive points with answers: the band, then the median over it.
    for (size_t i = 0; i < points.size();) {
        if (points[i].received == 0) {
            ++i;
            continue;
        }
        size_t end = i;
        while (end < points.size() && points[end].received > 0)
            ++end;
        if (!series.perRound) {
            QStringList band;
            for (size_t j = i; j < end; ++j)
                band << Num(x(j)) + ',' + Num(y(points[j].rtt.p90Us));
            for (size_t j = end; j-- > i;)
                band << Num(x(j)) + ',' + Num(y(points[j].rtt.p10Us));
            svg += QStringLiteral("<polygon class=\"spread\" points=\"%1\"/>\n").arg(band.join(' '));
        }
        if (end - i == 1) {
            svg += QStringLiteral("<circle class=\"median\" cx=\"%1\" cy=\"%2\" r=\"1.6\" fill=\"url(#%3)\"/>\n")
                       .arg(Num(x(i)), Num(y(points[i].rtt.medianUs)), gradient);
        } else {
            QStringList line;
            for (size_t j = i; j < end; ++j)
                line << Num(x(j)) + ',' + Num(y(points[j].rtt.medianUs));
            svg += QStringLiteral("<polyline class=\"median\" points=\"%1\" stroke=\"url(#%2)\"/>\n")
                       .arg(line.join(' '), gradient);
        }
        i = end;
    }

    // Loss marks: the share of the point's probes lost, its part that carries on drawn strong.
    const double markWidth = std::max(slot, 1.5);
    for (size_t i = 0; i < points.size(); ++i) {
        const SeriesPoint& p = points[i];
        if (p.lost == 0)
            continue;
        const double height = (kLossBottom - kLossTop) * double(p.lost) / double(p.lost + p.received);
        const double left = x(i) - markWidth / 2;
        svg += QStringLiteral("<rect class=\"lost\" x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\"/>")
                   .arg(Num(left), Num(kLossBottom - height), Num(markWidth), Num(height));
        const ForwardLoss& f = p.period;
        const double carried = f.lossPct && *f.lossPct > 0 ? std::clamp(*f.forwardPct / *f.lossPct, 0.0, 1.0) : 0;
        if (carried > 0)
            svg += QStringLiteral("<rect class=\"carried\" x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\"/>")
                       .arg(Num(left), Num(kLossBottom - height * carried), Num(markWidth), Num(height * carried));
        svg += '\n';
    }

    for (const ChartMark& change : routeChanges) {
        const double at = xAt(change.timeUs);
        if (at < kLeft || at > kRight)
            continue;
        svg += QStringLiteral("<line class=\"route-change%1\" x1=\"%2\" y1=\"%3\" x2=\"%2\" y2=\"%4\"/>\n")
                   .arg(change.here ? QStringLiteral(" here") : QString(), Num(at), Num(kPlotTop), Num(kLossBottom));
    }
    return svg + QStringLiteral("</svg>\n");
}
