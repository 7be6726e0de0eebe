#include "recent_loss.h"

#include <algorithm>

std::vector<LossCounts> RecentCounts(const History& history, int64_t nowUs, int64_t spanUs)
{
    std::vector<LossCounts> hops(size_t(history.maxTtl()));
    for (int ttl = 1; ttl <= history.maxTtl(); ++ttl) {
        const HopHistory* hop = history.Hop(ttl);
        if (!hop)
            continue;
        const HistoryTier& tier = hop->tier(0);
        const int64_t last = tier.PeriodOf(std::max<int64_t>(nowUs, 0));
        // The first period that ends after the span's start; all of them early in the watch.
        const int64_t first = nowUs < spanUs ? 0 : tier.PeriodOf(nowUs - spanUs) + 1;
        LossCounts& sum = hops[size_t(ttl - 1)];
        for (int64_t period = first; period <= last; ++period) {
            const HistoryBucket* bucket = tier.Find(period);
            if (!bucket)
                continue;
            const LossCounts c = bucket->counts();
            sum.sent += c.sent;
            sum.received += c.received;
            sum.lost += c.lost;
            sum.inFlight += c.inFlight;
        }
    }
    return hops;
}

std::vector<ForwardLoss> RecentForwardLosses(const History& history, int targetTtl, int64_t nowUs, int64_t spanUs)
{
    return ForwardLosses(RecentCounts(history, nowUs, spanUs), targetTtl);
}
