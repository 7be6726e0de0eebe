#include "json_lines.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

namespace {

// A known, finite figure rounded to `decimals`; null otherwise. Rounding here keeps the
// lines short (no 33.333333333333336), and the check keeps NaN and infinities out: JSON has
// no such numbers.
QJsonValue Rounded(std::optional<double> value, double scale)
{
    if (!value || !std::isfinite(*value))
        return QJsonValue::Null;
    return std::round(*value * scale) / scale;
}

QJsonValue Ms(std::optional<double> us)
{
    return us ? Rounded(*us / 1000.0, 1000) : QJsonValue(QJsonValue::Null);
}

QJsonValue Pct(std::optional<double> pct)
{
    return Rounded(pct, 1000);
}

QJsonValue Ip(const NetAddress& address)
{
    return address.valid() ? QJsonValue(QString::fromStdString(address.ToText())) : QJsonValue(QJsonValue::Null);
}

QString Time(const QDateTime& time)
{
    return time.toUTC().toString(Qt::ISODateWithMs);
}

const char* StatusName(ProbeStatus status)
{
    switch (status) {
    case ProbeStatus::InFlight: return "in_flight";
    case ProbeStatus::Answered: return "answered";
    case ProbeStatus::Lost: return "lost";
    case ProbeStatus::Late: return "late";
    case ProbeStatus::NotProbed: break;
    }
    return "not_probed";
}

QByteArray Line(const char* type, QJsonObject object, const LineTarget* target = nullptr)
{
    if (target) {
        object.insert("target", target->host);
        if (!target->name.isEmpty())
            object.insert("name", target->name);
    }
    object.insert("schema", kWatchSchema);
    object.insert("type", type);
    return QJsonDocument(object).toJson(QJsonDocument::Compact).append('\n');
}

} // namespace

QByteArray RoundJsonLine(const PathStats& path, int64_t round, const QDateTime& time, const LineTarget* target)
{
    QJsonArray hops;
    const History& history = path.history();
    for (int ttl = 1; ttl <= history.maxTtl(); ++ttl) {
        const HopHistory* hop = history.Hop(ttl);
        const RawSample sample = hop ? hop->raw().At(round) : RawSample {};
        if (sample.status == ProbeStatus::NotProbed)
            continue;
        hops.append(QJsonObject {
            { "ttl", ttl },
            { "ip", Ip(path.addresses().At(sample.address)) },
            { "rtt_ms", Ms(std::isnan(sample.rttUs) ? std::nullopt : std::optional<double>(sample.rttUs)) },
            { "status", StatusName(sample.status) },
        });
    }
    return Line("round", { { "time", Time(time) }, { "round", qint64(round) }, { "hops", hops } }, target);
}

QByteArray RouteChangeJsonLine(
    const RouteChange& change, const AddressTable& addresses, const QDateTime& time, const LineTarget* target)
{
    QJsonArray hops;
    for (const HopChange& h : change.hops)
        hops.append(QJsonObject {
            { "ttl", h.ttl },
            { "old", Ip(addresses.At(h.oldAddress)) },
            { "new", Ip(addresses.At(h.newAddress)) },
        });
    QJsonObject line { { "time", Time(time) }, { "round", qint64(change.round) }, { "hops", hops } };
    if (change.oldTargetTtl != change.newTargetTtl)
        line.insert("target_ttl", QJsonObject { { "old", change.oldTargetTtl }, { "new", change.newTargetTtl } });
    return Line("route_change", line, target);
}

QByteArray SummaryJsonLine(const WatchRunInfo& run, const std::vector<SummaryHop>& hops, const QString& name)
{
    QJsonArray hopArray;
    for (const SummaryHop& hop : hops) {
        QJsonArray hosts;
        for (const SummaryHost& host : hop.hosts)
            hosts.append(QJsonObject {
                { "ip", Ip(host.address) },
                { "hostname", host.hostname.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(host.hostname) },
            });
        const RttFigures& rtt = hop.rtt;
        hopArray.append(QJsonObject {
            { "ttl", hop.ttl },
            { "hosts", hosts },
            { "sent", qint64(hop.counts.sent) },
            { "recv", qint64(hop.counts.received) },
            { "loss_pct", Pct(hop.counts.lossPct()) },
            { "forward_loss_pct", Pct(hop.loss.forwardPct) },
            { "last", Ms(rtt.lastUs) },
            { "avg", Ms(rtt.avgUs) },
            { "best", Ms(rtt.bestUs) },
            { "worst", Ms(rtt.worstUs) },
            { "stddev", Ms(rtt.stddevUs) },
            { "median", Ms(rtt.medianUs) },
            { "p95", Ms(rtt.p95Us) },
            { "jitter", Ms(rtt.jitterUs) },
            { "javg", Ms(rtt.javgUs) },
            { "jmax", Ms(rtt.jmaxUs) },
            { "jint", Ms(rtt.jintUs) },
        });
    }
    QJsonObject summary {
        { "target", run.host },
        { "target_ip", Ip(run.target) },
        { "rounds", qint64(run.rounds) },
        { "interval_s", Rounded(run.intervalS, 1000) },
        { "hops", hopArray },
    };
    if (!name.isEmpty())
        summary.insert("name", name);
    return Line("summary", summary);
}
