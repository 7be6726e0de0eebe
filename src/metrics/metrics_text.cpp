#include "metrics_text.h"

#include "recent_loss.h"

#include <QList>

#include <algorithm>
#include <array>
#include <charconv>
#include <optional>

namespace {

// The text is made in one buffer, reserved once: a scrape of 50 targets of 30 hops is some
// 40,000 lines, each appended in place rather than put together from temporary arrays.

// A label value in quotes, escaped as both formats want: backslash, double quote, newline.
// Host names come from reverse lookups, which may hold any of them.
void AppendQuoted(QByteArray& out, QByteArrayView value)
{
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
    out += '"';
}

void AppendLabel(QByteArray& out, const char* name, QByteArrayView value)
{
    out += name;
    out += '=';
    AppendQuoted(out, value);
}

// An integer's digits, or the shortest text that reads back as the same double.
template <typename Value> void AppendNumber(QByteArray& out, Value value)
{
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    out.append(text, end - text);
}

// `,le="BOUND"} ` of each histogram bucket, the last "+Inf": the bounds never change, so
// their texts are made once.
const std::array<QByteArray, kRttBucketBounds + 1>& BucketEnds()
{
    static const std::array<QByteArray, kRttBucketBounds + 1> ends = [] {
        std::array<QByteArray, kRttBucketBounds + 1> all;
        for (int i = 0; i <= kRttBucketBounds; ++i) {
            QByteArray& end = all[size_t(i)];
            end = ",le=\"";
            if (i < kRttBucketBounds)
                AppendNumber(end, RttBucketBoundUs(i) / 1e6);
            else
                end += "+Inf";
            end += "\"} ";
        }
        return all;
    }();
    return ends;
}

struct AddressSeries {
    QByteArray labels; // target, target_ip, ttl, hop_ip
    QByteArray infoLabels; // target, ttl, hop_ip, hostname
    const AddressCounters* counters = nullptr;
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
    std::vector<HopSeries> hopSeries;
};

// Reads the statistics' counters only: the round trips' figures (Figures()) would sort
// every hop's and address's recent answers for nothing the metrics show.
TargetSeries SeriesOf(const MetricsTarget& target, int64_t nowUs)
{
    const PathStats& stats = *target.stats;
    TargetSeries t;
    AppendLabel(t.labels, "target", target.label.toUtf8());
    t.rounds = stats.roundsFinished();
    t.changes = int64_t(stats.routeChanges().changes().size()) + stats.routeChanges().droppedChanges();
    t.hops = stats.routeChanges().targetTtl();
    const std::vector<ForwardLoss> recent = RecentForwardLosses(stats.history(), t.hops, nowUs);
    QByteArray targetIp;
    AppendLabel(targetIp, "target_ip", QByteArray::fromStdString(target.address.ToText()));
    const int shown = t.hops > 0 ? std::min(stats.maxTtl(), t.hops) : stats.maxTtl();
    t.hopSeries.reserve(size_t(shown));
    for (int ttl = 1; ttl <= shown; ++ttl) {
        const HopStats& hop = *stats.Hop(ttl);
        QByteArray ttlLabel;
        AppendLabel(ttlLabel, "ttl", QByteArray::number(ttl));
        HopSeries& h = t.hopSeries.emplace_back();
        h.ttlLabels = t.labels + ',' + ttlLabel;
        const QByteArray hopLabels = t.labels + ',' + targetIp + ',' + ttlLabel + ',';
        h.silentLabels = hopLabels;
        AppendLabel(h.silentLabels, "hop_ip", {});
        h.silentSent = hop.counts().decided();
        h.silentReceived = hop.counts().received;
        if (size_t(ttl) <= recent.size() && recent[size_t(ttl - 1)].forwardPct)
            h.forwardLossRatio = *recent[size_t(ttl - 1)].forwardPct / 100.0;
        for (size_t i = 0; i < hop.addressCount(); ++i) {
            const AddressCounters& a = hop.AddressAt(i);
            h.silentSent -= a.counts.sent;
            h.silentReceived -= a.counts.received;
            const NetAddress& address = stats.addresses().At(a.address);
            // The hop's last answerer stays however long ago it answered: the probes lost since
            // count against it, and a hop gone dark must not lose its figures.
            const bool quiet = a.lastAnswerUs < nowUs - kMetricsQuietUs && a.address != hop.lastAnswerer();
            if (!address.valid() || quiet)
                continue;
            QByteArray ip;
            AppendLabel(ip, "hop_ip", QByteArray::fromStdString(address.ToText()));
            AddressSeries& series = h.addresses.emplace_back();
            series.labels = hopLabels + ip;
            series.infoLabels = h.ttlLabels + ',' + ip + ',';
            AppendLabel(series.infoLabels, "hostname", (target.names ? target.names(address) : QString()).toUtf8());
            series.counters = &a;
        }
    }
    return t;
}

// Bytes enough for the whole text, so that appending never moves it.
qsizetype TextSize(const std::vector<TargetSeries>& series)
{
    constexpr qsizetype kLine = 64; // a line's name, braces, value and bucket bound, about
    qsizetype size = 4096; // the families' help and type lines
    for (const TargetSeries& t : series) {
        size += 3 * (t.labels.size() + kLine);
        for (const HopSeries& h : t.hopSeries) {
            size += h.ttlLabels.size() + 2 * h.silentLabels.size() + 3 * kLine;
            for (const AddressSeries& a : h.addresses)
                size += a.infoLabels.size() + (kRttBucketBounds + 5) * (a.labels.size() + kLine);
        }
    }
    return size;
}

class Exposition {
public:
    Exposition(MetricsFormat format, qsizetype size)
        : m_open(format == MetricsFormat::OpenMetrics)
    {
        m_text.reserve(size);
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

    // NAME{LABELS} VALUE
    template <typename Value> void Sample(const char* name, const QByteArray& labels, Value value)
    {
        m_text += name;
        m_text += '{';
        m_text += labels;
        m_text += "} ";
        AppendNumber(m_text, value);
        m_text += '\n';
    }
    // NAME{LABELS,le="BOUND"} COUNT, `end` one of BucketEnds()
    void Bucket(const char* name, const QByteArray& labels, const QByteArray& end, int64_t count)
    {
        m_text += name;
        m_text += '{';
        m_text += labels;
        m_text += end;
        AppendNumber(m_text, count);
        m_text += '\n';
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
    const RttBuckets& b = a.counters->buckets;
    const auto& ends = BucketEnds();
    int64_t cumulative = 0;
    for (int i = 0; i <= kRttBucketBounds; ++i) {
        cumulative += b.counts[size_t(i)];
        out.Bucket("hoplantern_hop_rtt_seconds_bucket", a.labels, ends[size_t(i)], cumulative);
    }
    out.Sample("hoplantern_hop_rtt_seconds_sum", a.labels, b.sumUs / 1e6);
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
    Exposition out(format, TextSize(series));
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
                    out.Sample(c.name, a.labels, a.counters->counts.*c.count);
            }
        }
    }
    out.Family("hoplantern_hop_forward_loss_ratio", "gauge",
        "Loss that carries on down the path to the target, over the last 5 minutes of rounds.");
    for (const TargetSeries& t : series) {
        for (const HopSeries& h : t.hopSeries) {
            if (h.forwardLossRatio)
                out.Sample("hoplantern_hop_forward_loss_ratio", h.ttlLabels, *h.forwardLossRatio);
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
