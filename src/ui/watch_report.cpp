#include "watch_report.h"

#include "csv_summary.h"
#include "html_report.h"
#include "json_lines.h"
#include "product_version.h"
#include "watch_controller.h"

#include <QSysInfo>

#include <algorithm>

namespace {

// The oldest round whose every hop count the history's raw rings still hold: a round
// older than one ring would have lines that lack that hop.
int64_t OldestWholeRound(const History& history)
{
    int64_t newest = -1;
    for (int ttl = 1; ttl <= history.maxTtl(); ++ttl) {
        if (const HopHistory* hop = history.Hop(ttl))
            newest = std::max(newest, hop->raw().newestRound());
    }
    return std::max<int64_t>(0, newest - kRawRounds + 1);
}

// The terminal tracer's stream as it would have ended: one line per finished round (those
// still held), the route changes kept, then the summary.
QByteArray JsonLines(const WatchController& watch, const PathStats& stats, const HostNames& names)
{
    const PathWatch& run = *watch.watch();
    QByteArray lines;
    for (int64_t round = OldestWholeRound(stats.history()); round <= watch.lastFinishedRound(); ++round)
        lines += RoundJsonLine(stats, round, watch.WallTimeOf(run.RoundDueUs(round)));
    for (const RouteChange& change : stats.routeChanges().changes())
        lines += RouteChangeJsonLine(change, stats.addresses(), watch.WallTimeOf(change.timeUs));
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
