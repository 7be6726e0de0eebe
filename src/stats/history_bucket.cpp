#include "history_bucket.h"

static_assert(sizeof(HistoryBucket) == 128, "the history's memory budget counts 128 bytes a bucket");

void HistoryBucket::AddAnswer(double rttUs)
{
    HistoryBucket one;
    one.received = 1;
    one.minUs = one.maxUs = float(rttUs);
    one.sumUs = rttUs;
    one.bins[size_t(RttBinOf(rttUs))] = 1;
    Merge(one);
}

void HistoryBucket::Merge(const HistoryBucket& other)
{
    if (other.received > 0) {
        if (received == 0) {
            minUs = other.minUs;
            maxUs = other.maxUs;
            m2 = other.m2;
        } else {
            const double n = double(received) + double(other.received);
            const double d = other.meanUs() - meanUs();
            m2 += other.m2 + d * d * double(received) * double(other.received) / n;
            minUs = std::min(minUs, other.minUs);
            maxUs = std::max(maxUs, other.maxUs);
        }
        sumUs += other.sumUs;
        received = SaturatingSum(received, other.received);
    }
    sent = SaturatingSum(sent, other.sent);
    lost = SaturatingSum(lost, other.lost);
    for (size_t i = 0; i < bins.size(); ++i)
        bins[i] = SaturatingSum(bins[i], other.bins[i]);
}

RttBands BandsOf(const HistoryBucket& b)
{
    auto at = [&b](double fraction) { return EstimateRttPercentileUs(b.bins, b.minUs, b.maxUs, fraction); };
    return RttBands { at(0.10), at(0.25), at(0.50), at(0.75), at(0.90) };
}
