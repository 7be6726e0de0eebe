#include "timeline.h"

#include "forward_loss.h"
#include "rtt_series.h"

#include <algorithm>
#include <cmath>

namespace {

bool IsLost(ProbeStatus s)
{
    return s == ProbeStatus::Lost || s == ProbeStatus::Late;
}

bool IsDecided(ProbeStatus s)
{
    return s == ProbeStatus::Answered || IsLost(s);
}

// The exact percentile by nearest rank, as the table's p95.
std::optional<double> Percentile(const std::vector<double>& sorted, int percent)
{
    return NearestRankOfSorted(sorted, percent);
}

} // namespace

int64_t NewestRound(const History& history)
{
    int64_t newest = -1;
    for (int ttl = 1; ttl <= history.maxTtl(); ++ttl) {
        if (const HopHistory* hop = history.Hop(ttl))
            newest = std::max(newest, hop->raw().newestRound());
    }
    return newest;
}

std::vector<TimelineSlice> RecentRoundTimelines(const History& history, int lastTtl, int64_t newestRound, int rounds)
{
    const int64_t first = newestRound - rounds + 1;
    std::vector<std::vector<RawSample>> samples(size_t(std::max(lastTtl, 0)));
    std::vector<LossCounts> counts(samples.size());
    for (int ttl = 1; ttl <= lastTtl; ++ttl) {
        const HopHistory* hop = history.Hop(ttl);
        auto& row = samples[size_t(ttl - 1)];
        for (int64_t r = first - kStripWindow + 1; r <= newestRound; ++r)
            row.push_back(hop && r >= 0 ? hop->raw().At(r) : RawSample {});
        for (size_t i = kStripWindow - 1; i < row.size(); ++i) {
            LossCounts& c = counts[size_t(ttl - 1)];
            c.sent += IsDecided(row[i].status);
            c.lost += IsLost(row[i].status);
            c.received += row[i].status == ProbeStatus::Answered;
        }
    }
    const std::vector<ForwardLoss> forward = ForwardLosses(counts, 0);

    std::vector<TimelineSlice> slices(samples.size());
    for (size_t h = 0; h < samples.size(); ++h) {
        const auto& row = samples[h];
        TimelineSlice& slice = slices[h];
        std::vector<size_t> lostAt; // indices into row of the lost rounds shown
        for (size_t i = kStripWindow - 1; i < row.size(); ++i) {
            TimelinePoint p;
            p.round = first + int64_t(i - (kStripWindow - 1));
            p.decided = IsDecided(row[i].status);
            p.lost = IsLost(row[i].status);
            if (p.lost)
                lostAt.push_back(i);
            std::vector<double> window;
            for (size_t j = i + 1 - kStripWindow; j <= i; ++j) {
                if (row[j].status == ProbeStatus::Answered)
                    window.push_back(row[j].rttUs);
            }
            std::sort(window.begin(), window.end());
            p.p10Us = Percentile(window, 10);
            p.medianUs = MedianOfSorted(window);
            p.p90Us = Percentile(window, 90);
            p.address = row[i].address;
            slice.points.push_back(p);
        }
        // The share of this hop's lost rounds that is loss carried on, given to the rounds
        // the most hops behind it lost as well (the newest first among equals).
        const ForwardLoss& f = h < forward.size() ? forward[h] : ForwardLoss {};
        const double share = f.lossPct && *f.lossPct > 0 ? *f.forwardPct / *f.lossPct : 0;
        auto strong = size_t(std::llround(share * double(lostAt.size())));
        auto behind = [&](size_t i) {
            int n = 0;
            for (size_t j = h + 1; j < samples.size(); ++j)
                n += IsLost(samples[j][i].status);
            return n;
        };
        std::stable_sort(lostAt.begin(), lostAt.end(), [&](size_t a, size_t b) {
            const int na = behind(a), nb = behind(b);
            return na != nb ? na > nb : a > b;
        });
        for (size_t k = 0; k < strong && k < lostAt.size(); ++k)
            slice.points[lostAt[k] - (kStripWindow - 1)].forwardLost = 1;
    }
    ShareScale(slices);
    return slices;
}

TimelineSlice BucketTimeline(const History& history, int ttl, int lastTtl, size_t level, int64_t newestUs, int buckets)
{
    TimelineSlice slice;
    const TierShape shape = kHistoryTiers[level];
    const int64_t newest = newestUs / shape.widthUs;
    double top = 0;
    for (int64_t period = newest - buckets + 1; period <= newest; ++period) {
        TimelinePoint p;
        p.timeUs = period * shape.widthUs;
        std::vector<LossCounts> counts;
        for (int t = 1; t <= std::max(lastTtl, ttl); ++t) {
            const HopHistory* hop = history.Hop(t);
            const HistoryBucket* b = hop ? hop->tier(level).Find(period) : nullptr;
            counts.push_back(b ? b->counts() : LossCounts {});
        }
        const HopHistory* hop = history.Hop(ttl);
        const HistoryBucket* bucket = hop ? hop->tier(level).Find(period) : nullptr;
        if (bucket) {
            p.decided = int(bucket->received + bucket->lost);
            p.lost = bucket->lost;
            const std::vector<ForwardLoss> forward = ForwardLosses(counts, 0);
            const ForwardLoss& f = forward[size_t(ttl - 1)];
            if (f.forwardPct)
                p.forwardLost = int(std::llround(*f.forwardPct / 100.0 * p.decided));
            if (bucket->received > 0) {
                const RttBands bands = BandsOf(*bucket);
                p.p10Us = bands.p10Us;
                p.medianUs = bands.medianUs;
                p.p90Us = bands.p90Us;
                top = std::max(top, bands.p90Us);
            }
        }
        slice.points.push_back(p);
    }
    slice.scaleUs = NiceScaleUs(top);
    return slice;
}

double NiceScaleUs(double us)
{
    double step = 100;
    while (true) {
        for (double m : { 1.0, 2.0, 5.0 }) {
            if (m * step >= us)
                return m * step;
        }
        step *= 10;
    }
}

void ShareScale(std::vector<TimelineSlice>& slices)
{
    double top = 0;
    for (const TimelineSlice& s : slices) {
        for (const TimelinePoint& p : s.points)
            top = std::max(top, p.p90Us.value_or(0));
    }
    const double scale = NiceScaleUs(top);
    for (TimelineSlice& s : slices)
        s.scaleUs = scale;
}
