#include "metrics_text.h"

#include "recent_loss.h"

#include <QList>

#include <algorithm>
#include <charconv>
#include <optional>

namespace {

// A label value in quotes, escaped as both formats want: backslash, double quote, newline.
// Host names come from reverse lookups, which may hold any of them.
QByteArray Quoted(const QByteArray& value)
{
    QByteArray out;
    out.reserve(value.size() + 2);
    out += '"';
    for (const char c : value) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '"')
            out += "\\\"";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out += '"';
}

QByteArray Label(const char* name, const QByteArray& value)
{
    return QByteArray(name) + '=' + Quoted(value);
}

// The shortest text that reads back as the same double.
QByteArray Number(double value)
{
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    return QByteArray(text, end - text);
}

struct AddressSeries {
    QByteArray labels; // target, target_ip, ttl, hop_ip
    QByteArray infoLabels; // target, ttl, hop_ip, hostname
    const AddressFigures* figures = nullptr;
};

struct HopSeries {
    QByteArray ttlLabels; // target, ttl
    QByteArray silentLabels; // target, target_ip, ttl, hop_ip=""
    int64_t silentSent = 0; // decided probes counted against no address
    int64_t silentReceived = 0;
    std::optional<double> forwardLossRatio;
    std::vector<AddressSeries> addresses;
};

struct TargetSeries {
    QByteArray labels; // target
    int64_t rounds = 0;
    int hops = 0;
    int64_t changes = 0;
    PathFigures figures; // what the addresses' series point into (moving this moves no element)
    std::vector<HopSeries> hopSeries;
};

TargetSeries SeriesOf(const MetricsTarget& target, int64_t nowUs)
{
    const PathStats& stats = *target.stats;
    TargetSeries t;
    const QByteArray label = target.label.toUtf8();
    t.labels = Label("target", label);
    t.rounds = stats.roundsFinished();
    t.changes = int64_t(stats.routeChanges().changes().size()) + stats.routeChanges().droppedChanges();
    t.figures = stats.Figures();
    t.hops = t.figures.targetTtl;
    const std::vector<ForwardLoss> recent = RecentForwardLosses(stats.history(), t.figures.targetTtl, nowUs);
    const QByteArray targetIp = Label("target_ip", QByteArray::fromStdString(target.address.ToText()));
    const size_t shown = t.hops > 0 ? std::min(t.figures.hops.size(), size_t(t.hops)) : t.figures.hops.size();
    for (size_t i = 0; i < shown; ++i) {
        const HopFigures& hop = t.figures.hops[i];
        const QByteArray ttl = Label("ttl", QByteArray::number(qsizetype(i + 1)));
        HopSeries h;
        h.ttlLabels = t.labels + ',' + ttl;
        const QByteArray hopLabels = t.labels + ',' + targetIp + ',' + ttl + ',';
        h.silentLabels = hopLabels + Label("hop_ip", {});
        h.silentSent = hop.counts.decided();
        h.silentReceived = hop.counts.received;
        if (i < recent.size() && recent[i].forwardPct)
            h.forwardLossRatio = *recent[i].forwardPct / 100.0;
        for (const AddressFigures& a : hop.addresses) {
            h.silentSent -= a.counts.sent;
            h.silentReceived -= a.counts.received;
            const NetAddress& address = stats.addresses().At(a.address);
            if (!address.valid() || a.lastAnswerUs < nowUs - kMetricsQuietUs)
                continue;
            const QByteArray ip = Label("hop_ip", QByteArray::fromStdString(address.ToText()));
            const QString name = target.names ? target.names(address) : QString();
            h.addresses.push_back(
                AddressSeries { hopLabels + ip, h.ttlLabels + ',' + ip + ',' + Label("hostname", name.toUtf8()), &a });
        }
        t.hopSeries.push_back(std::move(h));
    }
    return t;
}

class Exposition {
public:
    explicit Exposition(MetricsFormat format)
        : m_open(format == MetricsFormat::OpenMetrics)
    {
    }

    // `name` is the samples' name; OpenMetrics names a counter's or info's family without
    // its _total or _info.
    void Family(const char* name, const char* type, const char* help, const char* unit = nullptr)
    {
        QByteArray family(name);
        QByteArray familyType(type);
        if (m_open && family.endsWith("_total"))
            family.chop(6);
        if (family.endsWith("_info")) {
            if (m_open) {
                family.chop(5);
                familyType = "info";
            } else {
                familyType = "gauge";
            }
        }
        m_text += "# HELP " + family + ' ' + help + '\n';
        m_text += "# TYPE " + family + ' ' + familyType + '\n';
        if (m_open && unit)
            m_text += "# UNIT " + family + ' ' + unit + '\n';
    }

    void Sample(const char* name, const QByteArray& labels, const QByteArray& value)
    {
        m_text += name;
        m_text += '{' + labels + "} " + value + '\n';
    }
    void Sample(const char* name, const QByteArray& labels, int64_t value)
    {
        Sample(name, labels, QByteArray::number(qint64(value)));
    }

    QByteArray Finish()
    {
        if (m_open)
            m_text += "# EOF\n";
        return std::move(m_text);
    }

private:
    bool m_open;
    QByteArray m_text;
};

void WriteHistogram(Exposition& out, const AddressSeries& a)
{
    const RttBuckets& b = a.figures->buckets;
    int64_t cumulative = 0;
    for (int i = 0; i <= kRttBucketBounds; ++i) {
        cumulative += b.counts[size_t(i)];
        const QByteArray le = i < kRttBucketBounds ? Number(RttBucketBoundUs(i) / 1e6) : QByteArray("+Inf");
        out.Sample("hoplantern_hop_rtt_seconds_bucket", a.labels + ',' + Label("le", le), cumulative);
    }
    out.Sample("hoplantern_hop_rtt_seconds_sum", a.labels, Number(b.sumUs / 1e6));
    out.Sample("hoplantern_hop_rtt_seconds_count", a.labels, cumulative);
}

} // namespace

QByteArray MetricsText(const std::vector<MetricsTarget>& targets, int64_t nowUs, MetricsFormat format)
{
    std::vector<TargetSeries> series;
    for (const MetricsTarget& target : targets) {
        if (target.stats)
            series.push_back(SeriesOf(target, nowUs));
    }
    Exposition out(format);
    out.Family("hoplantern_rounds_total", "counter", "Rounds of probes finished, every probe decided.");
    for (const TargetSeries& t : series)
        out.Sample("hoplantern_rounds_total", t.labels, t.rounds);
    out.Family("hoplantern_path_hops", "gauge", "Hop count at which the target answers, 0 while it has not.");
    for (const TargetSeries& t : series)
        out.Sample("hoplantern_path_hops", t.labels, t.hops);
    out.Family("hoplantern_path_changes_total", "counter", "Route changes seen on the path.");
    for (const TargetSeries& t : series)
        out.Sample("hoplantern_path_changes_total", t.labels, t.changes);

    out.Family("hoplantern_hop_info", "gauge", "Address answering at a hop count, and its host name.");
    for (const TargetSeries& t : series) {
        for (const HopSeries& h : t.hopSeries) {
            for (const AddressSeries& a : h.addresses)
                out.Sample("hoplantern_hop_info", a.infoLabels, 1);
        }
    }
    const struct {
        const char* name;
        const char* help;
        int64_t LossCounts::*count;
        int64_t HopSeries::*silent;
    } counters[] = {
        { "hoplantern_hop_probes_sent_total", "Probes whose fate is decided (answered, or their wait over).",
            &LossCounts::sent, &HopSeries::silentSent },
        { "hoplantern_hop_probes_received_total", "Probes answered in time.", &LossCounts::received,
            &HopSeries::silentReceived },
    };
    for (const auto& c : counters) {
        out.Family(c.name, "counter", c.help);
        for (const TargetSeries& t : series) {
            for (const HopSeries& h : t.hopSeries) {
                if (h.silentSent > 0)
                    out.Sample(c.name, h.silentLabels, h.*c.silent);
                for (const AddressSeries& a : h.addresses)
                    out.Sample(c.name, a.labels, a.figures->counts.*c.count);
            }
        }
    }
    out.Family("hoplantern_hop_forward_loss_ratio", "gauge",
        "Loss that carries on down the path to the target, over the last 5 minutes of rounds.");
    for (const TargetSeries& t : series) {
        for (const HopSeries& h : t.hopSeries) {
            if (h.forwardLossRatio)
                out.Sample("hoplantern_hop_forward_loss_ratio", h.ttlLabels, Number(*h.forwardLossRatio));
        }
    }
    out.Family("hoplantern_hop_rtt_seconds", "histogram", "Round trips of the answers in time.", "seconds");
    for (const TargetSeries& t : series) {
        for (const HopSeries& h : t.hopSeries) {
            for (const AddressSeries& a : h.addresses)
                WriteHistogram(out, a);
        }
    }
    return out.Finish();
}

namespace {
struct MediaRange {
    QByteArray type;
    QByteArray version;
    double q = 1;
};

MediaRange ParseMediaRange(QByteArrayView range)
{
    MediaRange m;
    const QList<QByteArray> parts = range.toByteArray().split(';');
    m.type = parts.front().trimmed().toLower();
    for (qsizetype i = 1; i < parts.size(); ++i) {
        const QByteArray param = parts[i].trimmed();
        const qsizetype eq = param.indexOf('=');
        if (eq < 0)
            continue;
        const QByteArray key = param.left(eq).trimmed().toLower();
        const QByteArray value = param.mid(eq + 1).trimmed();
        if (key == "q") {
            bool ok = false;
            const double q = value.toDouble(&ok);
            m.q = ok ? q : 0;
        } else if (key == "version") {
            m.version = value;
        }
    }
    return m;
}
} // namespace

MetricsFormat FormatForAccept(QByteArrayView accept)
{
    double open = 0;
    double text = 0;
    for (const QByteArray& range : accept.toByteArray().split(',')) {
        const MediaRange m = ParseMediaRange(range);
        if (m.type == "application/openmetrics-text" && (m.version.isEmpty() || m.version == "1.0.0"))
            open = std::max(open, m.q);
        else if (m.type == "text/plain" || m.type == "text/*" || m.type == "*/*")
            text = std::max(text, m.q);
    }
    return open > 0 && open > text ? MetricsFormat::OpenMetrics : MetricsFormat::Prometheus;
}

QByteArray ContentTypeOf(MetricsFormat format)
{
    return format == MetricsFormat::OpenMetrics ? "application/openmetrics-text; version=1.0.0; charset=utf-8"
                                                : "text/plain; version=0.0.4; charset=utf-8";
}
