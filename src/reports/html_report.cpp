#include "html_report.h"

#include "summary_table.h"
#include "svg_chart.h"
#include "watch_series.h"

#include <QStringList>

namespace {

const char kStyle[] = R"css(
body { font: 14px/1.4 sans-serif; color: #222; margin: 1.5em; max-width: 64em; }
h1 { font-size: 1.4em; } h2 { font-size: 1.15em; margin-top: 1.6em; } h3 { font-size: 1em; margin: 1.2em 0 0.2em; }
table { border-collapse: collapse; } th, td { padding: 0.15em 0.6em; text-align: left; }
table.summary th { border-bottom: 1px solid #999; } table.summary td.num, table.summary th.num { text-align: right; }
table.summary tbody tr:nth-child(even) { background: #f3f3f3; } td.num { font-variant-numeric: tabular-nums; }
.muted { color: #999; } dl.context { display: grid; grid-template-columns: max-content auto; gap: 0 1em; }
dl.context dt { font-weight: bold; } dl.context dd { margin: 0; }
svg.chart { width: 100%; height: auto; display: block; }
svg .plot { fill: #fafafa; stroke: #ccc; } svg .axis { font-size: 10px; fill: #666; }
svg polyline.median { fill: none; stroke-width: 1.5; stroke-linejoin: round; }
svg .spread { fill: #9ab8d8; fill-opacity: 0.45; stroke: none; }
svg .lost { fill: #c4c4c4; } svg .carried { fill: #c62828; }
svg .route-change { stroke: #6a3d9a; stroke-dasharray: 3 3; } svg .route-change.here { stroke-dasharray: none; stroke-width: 2; }
.legend span { margin-right: 1.2em; } .swatch { display: inline-block; width: 1em; height: 0.8em; vertical-align: middle; margin-right: 0.3em; }
)css";

// Text for HTML and XML alike: markup characters escaped, and control characters (which
// XML does not allow, and a reverse lookup may bring) replaced.
QString Escaped(const QString& text)
{
    QString clean = text;
    for (QChar& c : clean)
        if (c.unicode() < 0x20 && c != '\t' && c != '\n')
            c = QChar::ReplacementCharacter;
    return clean.toHtmlEscaped();
}

QString Stamp(const QDateTime& time)
{
    const int offset = time.offsetFromUtc();
    const QString zone = offset == 0 ? QStringLiteral("UTC")
                                     : QStringLiteral("%1%2:%3")
                                           .arg(offset < 0 ? '-' : '+')
                                           .arg(std::abs(offset) / 3600, 2, 10, QChar('0'))
                                           .arg(std::abs(offset) % 3600 / 60, 2, 10, QChar('0'));
    return time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss ")) + zone;
}

QString Seconds(int64_t us)
{
    return QString::number(double(us) / 1e6, 'g', 6) + QStringLiteral(" s");
}

QString Context(const HtmlReportContext& c)
{
    QString html = QStringLiteral("<dl class=\"context\">\n");
    const auto item = [&html](const char* term, const QString& value) {
        html += QStringLiteral("<dt>%1</dt><dd>%2</dd>\n").arg(QLatin1String(term), Escaped(value));
    };
    item("Target",
        c.target.valid() ? QStringLiteral("%1 (%2)").arg(c.host, QString::fromStdString(c.target.ToText())) : c.host);
    item("From", c.fromHost);
    item("Started", Stamp(c.started));
    item("Ended", Stamp(c.ended));
    item("Rounds", QStringLiteral("%1, one every %2").arg(c.rounds).arg(Seconds(c.intervalUs)));
    item("Program", c.program);
    return html + QStringLiteral("</dl>\n");
}

QString Table(const std::vector<SummaryHop>& hops)
{
    const auto cls = [](int column) { return IsTextColumn(column) ? QString() : QStringLiteral(" class=\"num\""); };
    QString html = QStringLiteral("<table class=\"summary\">\n<thead><tr>");
    for (int c = 0; c < kSummaryColumns; ++c)
        html += QStringLiteral("<th%1>%2</th>").arg(cls(c), Escaped(QLatin1String(SummaryHeadings()[c])));
    html += QStringLiteral("</tr></thead>\n<tbody>\n");
    for (const SummaryRow& row : SummaryRows(hops)) {
        html += QStringLiteral("<tr>");
        for (int c = 0; c < kSummaryColumns; ++c) {
            const bool muted = c == kLossColumn && row.lossMuted;
            html += QStringLiteral("<td%1>%2</td>")
                        .arg(muted ? QStringLiteral(" class=\"num muted\"") : cls(c), Escaped(row.cells[c]));
        }
        html += QStringLiteral("</tr>\n");
    }
    return html + QStringLiteral("</tbody>\n</table>\n");
}

QString Address(const AddressTable& addresses, AddressId id, const HostNames& names)
{
    const NetAddress& address = addresses.At(id);
    if (!address.valid())
        return QStringLiteral("none");
    const QString text = QString::fromStdString(address.ToText());
    const QString name = names ? names(address) : QString();
    return name.isEmpty() ? text : QStringLiteral("%1 (%2)").arg(text, name);
}

} // namespace

QByteArray HtmlReport(const PathStats& path, const HtmlReportContext& context, const HostNames& names)
{
    const std::vector<SummaryHop> hops = SummaryHops(path.Figures(), path.addresses(), names);
    const auto wall = [&](int64_t us) { return context.started.addMSecs((us - context.firstRoundUs) / 1000); };
    const bool days = context.started.secsTo(context.ended) > 86400; // then the axis needs dates
    const auto label = [&](int64_t us) {
        return wall(us).toString(days ? QStringLiteral("MM-dd HH:mm") : QStringLiteral("HH:mm:ss"));
    };

    QString html = QStringLiteral("<!DOCTYPE html>\n<html xmlns=\"http://www.w3.org/1999/xhtml\" lang=\"en\">\n<head>\n"
                                  "<meta charset=\"utf-8\"/>\n<title>Watch of %1</title>\n<style>%2</style>\n</head>\n"
                                  "<body>\n<h1>Watch of %1</h1>\n")
                       .arg(Escaped(context.host), QLatin1String(kStyle));
    html += Context(context);

    html += QStringLiteral("<h2>Summary</h2>\n") + Table(hops);
    html += QStringLiteral("<p>Loss% in grey: the router declines to answer part of the probes (Loss% above Fwd%, "
                           "the loss that carries on down the path); it is not traffic lost.</p>\n");

    html += QStringLiteral(
        "<h2>Round trips over time</h2>\n<p class=\"legend\">"
        "<span><span class=\"swatch\" style=\"background:hsl(120,75%,38%)\"></span>median, coloured by the loss "
        "that carries on (red from 20%)</span>"
        "<span><span class=\"swatch\" style=\"background:#9ab8d8\"></span>p10 to p90</span>"
        "<span><span class=\"swatch\" style=\"background:#c62828\"></span>lost on the path</span>"
        "<span><span class=\"swatch\" style=\"background:#c4c4c4\"></span>declined by the router</span>"
        "<span><span class=\"swatch\" style=\"background:#6a3d9a\"></span>route change</span></p>\n");
    const WatchSeries series = SeriesOfWatch(path, context.firstRoundUs, context.intervalUs, context.rounds);
    const std::deque<RouteChange>& changes = path.routeChanges().changes();
    for (size_t i = 0; i < series.hops.size() && i < hops.size(); ++i) {
        QStringList where;
        for (const SummaryHost& host : hops[i].hosts)
            where << (host.hostname.isEmpty()
                    ? QString::fromStdString(host.address.ToText())
                    : QStringLiteral("%1 (%2)").arg(QString::fromStdString(host.address.ToText()), host.hostname));
        std::vector<ChartMark> marks;
        for (const RouteChange& change : changes) {
            const bool here = std::any_of(
                change.hops.begin(), change.hops.end(), [&](const HopChange& h) { return h.ttl == int(i) + 1; });
            marks.push_back(ChartMark { change.timeUs, here });
        }
        html += QStringLiteral("<section class=\"hop\" id=\"hop%1\">\n<h3>Hop %1: %2</h3>\n")
                    .arg(i + 1)
                    .arg(where.isEmpty() ? QStringLiteral("no answer") : Escaped(where.join(QStringLiteral(", "))));
        html += HopChartSvg(series, i, marks, label) + QStringLiteral("</section>\n");
    }

    html += QStringLiteral("<h2>Route changes</h2>\n");
    if (changes.empty()) {
        html += QStringLiteral("<p>None.</p>\n");
    } else {
        html += QStringLiteral("<table class=\"changes\">\n<thead><tr><th>Time</th><th>Round</th><th>Hop</th>"
                               "<th>Before</th><th>After</th></tr></thead>\n<tbody>\n");
        for (const RouteChange& change : changes) {
            const QString time = Escaped(Stamp(wall(change.timeUs)));
            for (const HopChange& hop : change.hops)
                html += QStringLiteral("<tr><td>%1</td><td>%2</td><td>%3</td><td>%4</td><td>%5</td></tr>\n")
                            .arg(time)
                            .arg(change.round)
                            .arg(hop.ttl)
                            .arg(Escaped(Address(path.addresses(), hop.oldAddress, names)),
                                Escaped(Address(path.addresses(), hop.newAddress, names)));
            if (change.newTargetTtl != change.oldTargetTtl)
                html += QStringLiteral("<tr><td>%1</td><td>%2</td><td>target</td><td>hop %3</td><td>hop %4</td></tr>\n")
                            .arg(time)
                            .arg(change.round)
                            .arg(change.oldTargetTtl)
                            .arg(change.newTargetTtl);
        }
        html += QStringLiteral("</tbody>\n</table>\n");
        if (path.routeChanges().droppedChanges() > 0)
            html += QStringLiteral("<p>%1 earlier changes not kept.</p>\n").arg(path.routeChanges().droppedChanges());
    }
    return (html + QStringLiteral("</body>\n</html>\n")).toUtf8();
}
