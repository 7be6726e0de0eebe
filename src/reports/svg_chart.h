#pragma once
#include "watch_series.h"

#include <QString>

#include <functional>
#include <vector>

// One hop's chart of round trips over a watch, as an inline <svg> element (XML, no script):
// - the median as a line, in runs of consecutive points with answers, coloured by the loss
//   of each point's period that carries on down the path (green none, red from 20 %), so a
//   router that only declines to answer does not redden it;
// - for buckets, the p10-p90 spread as a lighter band around it;
// - each point with lost probes as a mark under the plot, as tall as its share of loss: grey
//   for the part the router declines to answer, strong red for the part that carries on;
// - each route change as a vertical line, solid where this hop changed, dashed elsewhere.
// Every point with answers is a vertex of a <polyline class="median">, or a <circle
// class="median"> when it stands alone; every point with loss is one <rect class="lost">.
struct ChartMark {
    int64_t timeUs = 0; // watch clock
    bool here = false; // this hop changed
};

// `hop` indexes series.hops; `timeLabel` writes a moment of the watch clock for the axis.
QString HopChartSvg(const WatchSeries& series, size_t hop, const std::vector<ChartMark>& routeChanges,
    const std::function<QString(int64_t)>& timeLabel);
