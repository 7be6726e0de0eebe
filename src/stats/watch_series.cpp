#include "watch_series.h"

#include <algorithm>
#include <cmath>
#include <map>

namespace {

int ShownHops(const PathStats& path)
{
    const int target = path.routeChanges().targetTtl();
    return target > 0 ? std::min(path.history().maxTtl(), target) : path.history().maxTtl();
}

// The loss of one period of `tier` at every shown hop count, computed once per period.
class PeriodLosses {
public:
    PeriodLosses(const PathStats& path, size_t tier, int hops)
        : m_path(path)
        , m_tier(tier)
        , m_hops(hops)
    {
    }
    const ForwardLoss& At(int64_t period, int ttl)
    {
        auto [it, added] = m_cache.try_emplace(period);
        if (added) {
            std::vector<LossCounts> counts(static_cast<size_t>(m_hops));
            for (int t = 1; t <= m_hops; ++t) {
                const HopHistory* hop = m_path.history().Hop(t);
                if (const HistoryBucket* b = hop ? hop->tier(m_tier).Find(period) : nullptr)
                    counts[size_t(t - 1)] = b->counts();
            }
            it->second = ForwardLosses(counts, m_hops);
        }
        return it->second[size_t(ttl - 1)];
    }

private:
    const PathStats& m_path;
    size_t m_tier;
    int m_hops;
    std::map<int64_t, std::vector<ForwardLoss>> m_cache;
};

} // namespace

WatchSeries SeriesOfWatch(const PathStats& path, int64_t firstRoundUs, int64_t intervalUs, int64_t rounds)
{
    WatchSeries series;
    const int hops = ShownHops(path);
    series.hops.resize(size_t(hops));
    if (rounds <= 0)
        return series;
    if (rounds <= kMaxRoundPoints) {
        series.firstUs = firstRoundUs;
        series.stepUs = intervalUs;
        PeriodLosses losses(path, 0, hops);
        for (int ttl = 1; ttl <= hops; ++ttl) {
            const HopHistory* hop = path.history().Hop(ttl);
            for (int64_t r = 0; r < rounds; ++r) {
                SeriesPoint p;
                p.startUs = firstRoundUs + r * intervalUs;
                const RawSample s = hop ? hop->raw().At(r) : RawSample {};
                if (s.status == ProbeStatus::Answered) {
                    p.received = 1;
                    p.rtt = RttBands { s.rttUs, s.rttUs, s.rttUs, s.rttUs, s.rttUs };
                } else if (s.status == ProbeStatus::Lost || s.status == ProbeStatus::Late) {
                    p.lost = 1;
                }
                p.period = losses.At(hop ? hop->tier(0).PeriodOf(p.startUs) : 0, ttl);
                series.hops[size_t(ttl - 1)].push_back(p);
            }
        }
        return series;
    }
    // The finest tier whose ring holds every period of the watch, else the coarsest's newest.
    const int64_t lastUs = firstRoundUs + (rounds - 1) * intervalUs;
    size_t level = 0;
    while (level + 1 < kHistoryTiers.size()
        && lastUs / kHistoryTiers[level].widthUs - firstRoundUs / kHistoryTiers[level].widthUs
            >= kHistoryTiers[level].buckets)
        ++level;
    const TierShape shape = kHistoryTiers[level];
    const int64_t last = lastUs / shape.widthUs;
    const int64_t first = std::max(firstRoundUs / shape.widthUs, last - shape.buckets + 1);
    series.perRound = false;
    series.firstUs = first * shape.widthUs;
    series.stepUs = shape.widthUs;
    PeriodLosses losses(path, level, hops);
    for (int ttl = 1; ttl <= hops; ++ttl) {
        const HopHistory* hop = path.history().Hop(ttl);
        for (int64_t period = first; period <= last; ++period) {
            SeriesPoint p;
            p.startUs = period * shape.widthUs;
            if (const HistoryBucket* b = hop ? hop->tier(level).Find(period) : nullptr) {
                p.received = b->received;
                p.lost = b->lost;
                if (b->received > 0)
                    p.rtt = BandsOf(*b);
            }
            p.period = losses.At(period, ttl);
            series.hops[size_t(ttl - 1)].push_back(p);
        }
    }
    return series;
}
