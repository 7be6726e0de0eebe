#include "csv_summary.h"

#include "csv_field.h"

#include <QByteArrayList>
#include <QStringList>

#include <cmath>

namespace {

QString Fixed(std::optional<double> value, double divisor)
{
    return value && std::isfinite(*value) ? QString::number(*value / divisor, 'f', 3) : QString();
}

QByteArray Record(const QStringList& fields)
{
    QByteArrayList out;
    for (const QString& field : fields)
        out << QByteArray::fromStdString(CsvField(field.toStdString()));
    return out.join(',') + "\r\n";
}

const QStringList kHeader { "ttl", "ip", "hostname", "sent", "recv", "loss_pct", "forward_loss_pct", "last", "avg",
    "best", "worst", "stddev", "median", "p95", "jitter", "javg", "jmax", "jint" };

// The records of one path's hops, each led by `lead`.
QByteArray HopRecords(const std::vector<SummaryHop>& hops, const QStringList& lead)
{
    QByteArray out;
    for (const SummaryHop& hop : hops) {
        const RttFigures& rtt = hop.rtt;
        const QStringList figures { QString::number(hop.counts.sent), QString::number(hop.counts.received),
            Fixed(hop.counts.lossPct(), 1), Fixed(hop.loss.forwardPct, 1), Fixed(rtt.lastUs, 1000),
            Fixed(rtt.avgUs, 1000), Fixed(rtt.bestUs, 1000), Fixed(rtt.worstUs, 1000), Fixed(rtt.stddevUs, 1000),
            Fixed(rtt.medianUs, 1000), Fixed(rtt.p95Us, 1000), Fixed(rtt.jitterUs, 1000), Fixed(rtt.javgUs, 1000),
            Fixed(rtt.jmaxUs, 1000), Fixed(rtt.jintUs, 1000) };
        const QString ttl = QString::number(hop.ttl);
        if (hop.hosts.empty())
            out += Record(lead + QStringList { ttl, QString(), QString() } + figures);
        for (size_t i = 0; i < hop.hosts.size(); ++i) {
            const SummaryHost& host = hop.hosts[i];
            const QStringList where
                = lead + QStringList { ttl, QString::fromStdString(host.address.ToText()), host.hostname };
            out += Record(i == 0 ? where + figures : where + QStringList(figures.size(), QString()));
        }
    }
    return out;
}

} // namespace

QByteArray SummaryCsv(const std::vector<SummaryHop>& hops)
{
    return Record(kHeader) + HopRecords(hops, {});
}

QByteArray SummaryCsv(const std::vector<TargetSummary>& targets)
{
    QByteArray out = Record(QStringList { "target", "name" } + kHeader);
    for (const TargetSummary& target : targets)
        out += HopRecords(target.hops, { target.target, target.name });
    return out;
}
