#include "watch_report.h"

#include "csv_summary.h"
#include "html_report.h"
#include "json_lines.h"
#include "product_version.h"
#include "timeline.h"
#include "watch_controller.h"

#include <QSysInfo>

#include <algorithm>
#include <limits>

namespace {

// The terminal tracer's stream as it would have ended: one line per finished round the
// history's raw rings still hold whole (an older round would lack some hop counts), each
// route change after the round that showed it (those of rounds no longer held first), then
// the summary.
QByteArray JsonLines(const WatchController& watch, const PathStats& stats, const HostNames& names)
{
    const PathWatch& run = *watch.watch();
    QByteArray lines;
    const auto& changes = stats.routeChanges().changes();
    auto change = changes.begin();
    const auto changesUpTo = [&](int64_t round) {
        for (; change != changes.end() && change->round <= round; ++change)
            lines += RouteChangeJsonLine(*change, stats.addresses(), watch.WallTimeOf(change->timeUs));
    };
    const int64_t oldest = std::max<int64_t>(0, NewestRound(stats.history()) - kRawRounds + 1);
    changesUpTo(oldest - 1);
    for (int64_t round = oldest; round <= watch.lastFinishedRound(); ++round) {
        lines += RoundJsonLine(stats, round, watch.WallTimeOf(run.RoundDueUs(round)));
        changesUpTo(round);
    }
    changesUpTo(std::numeric_limits<int64_t>::max());
    const WatchParameters& params = watch.parameters();
    const WatchRunInfo info { watch.host(), params.target, run.roundsSent(), double(params.intervalUs) / 1e6 };
    return lines + SummaryJsonLine(info, SummaryHops(stats.Figures(), stats.addresses(), names));
}

} // namespace

QByteArray WatchReport(const WatchController& watch, WatchReportFormat format)
{
    const PathStats* stats = watch.stats();
    if (!stats || !watch.watch())
        return {};
    const HostNames names = [&watch](const NetAddress& a) { return watch.NameOf(a); };
    switch (format) {
    case WatchReportFormat::Csv: return SummaryCsv(SummaryHops(stats->Figures(), stats->addresses(), names));
    case WatchReportFormat::JsonLines: return JsonLines(watch, *stats, names);
    case WatchReportFormat::Html: break;
    }
    const PathWatch& run = *watch.watch();
    const WatchParameters& params = watch.parameters();
    // A watch still running is reported as it stands now.
    const QDateTime ended = watch.endedAt().isValid() ? watch.endedAt() : QDateTime::currentDateTimeUtc();
    const HtmlReportContext context { watch.host(), params.target, QSysInfo::machineHostName(),
        watch.WallTimeOf(run.RoundDueUs(0)).toLocalTime(), ended.toLocalTime(), run.RoundDueUs(0), params.intervalUs,
        run.roundsSent(), QStringLiteral("hoplantern " HOPLANTERN_VERSION) };
    return HtmlReport(*stats, context, names);
}
