#include "history.h"

#include <algorithm>

RawRing::RawRing()
    : m_samples(kRawRounds)
{
}

int64_t RawRing::oldestRound() const
{
    return std::max<int64_t>(0, m_newestRound - kRawRounds + 1);
}

void RawRing::Record(int64_t round, const RawSample& sample)
{
    if (round < 0 || (m_newestRound >= 0 && round < oldestRound()))
        return;
    // Rounds skipped since the newest read as not probed, not as what the slot held before.
    for (int64_t r = std::max(m_newestRound + 1, round - kRawRounds + 1); r < round; ++r)
        m_samples[size_t(r % kRawRounds)] = RawSample {};
    m_newestRound = std::max(m_newestRound, round);
    m_samples[size_t(round % kRawRounds)] = sample;
}

RawSample RawRing::At(int64_t round) const
{
    if (m_newestRound < 0 || round < oldestRound() || round > m_newestRound)
        return RawSample {};
    return m_samples[size_t(round % kRawRounds)];
}

HistoryTier::HistoryTier(TierShape shape)
    : m_shape(shape)
    , m_buckets(size_t(shape.buckets))
    , m_periods(size_t(shape.buckets), -1)
{
}

HistoryBucket* HistoryTier::BucketAt(int64_t timeUs)
{
    const int64_t period = PeriodOf(std::max<int64_t>(timeUs, 0));
    if (period <= m_newestPeriod - m_shape.buckets)
        return nullptr;
    const auto slot = size_t(period % m_shape.buckets);
    if (m_periods[slot] != period) {
        m_buckets[slot] = HistoryBucket {};
        m_periods[slot] = int32_t(period);
    }
    m_newestPeriod = std::max(m_newestPeriod, period);
    return &m_buckets[slot];
}

const HistoryBucket* HistoryTier::Find(int64_t period) const
{
    if (period < 0)
        return nullptr;
    const auto slot = size_t(period % m_shape.buckets);
    return m_periods[slot] == period ? &m_buckets[slot] : nullptr;
}

HopHistory::HopHistory()
    : m_tiers { HistoryTier(kHistoryTiers[0]), HistoryTier(kHistoryTiers[1]), HistoryTier(kHistoryTiers[2]) }
{
}

void HopHistory::Record(const ProbeOutcome& o, AddressId address)
{
    if (o.status == ProbeStatus::NotProbed)
        return;
    // As in HopStats: a decided probe never reported in flight counts its send as well.
    const bool sentNow = o.status == ProbeStatus::InFlight
        || ((o.status == ProbeStatus::Answered || o.status == ProbeStatus::Lost)
            && m_raw.At(o.round).status != ProbeStatus::InFlight);
    const bool answered = o.status == ProbeStatus::Answered || o.status == ProbeStatus::Late;
    m_raw.Record(o.round, RawSample { answered ? float(o.rttUs) : NAN, answered ? address : kNoAddress, o.status });
    for (HistoryTier& tier : m_tiers) {
        HistoryBucket* bucket = tier.BucketAt(o.sentUs);
        if (!bucket)
            continue;
        if (sentNow)
            bucket->AddSent();
        if (o.status == ProbeStatus::Answered)
            bucket->AddAnswer(o.rttUs);
        else if (o.status == ProbeStatus::Lost)
            bucket->AddLost();
    }
}

void History::Record(const ProbeOutcome& o, AddressId address)
{
    if (o.ttl < 1 || o.ttl > 255)
        return;
    if (m_hops.size() < size_t(o.ttl))
        m_hops.resize(size_t(o.ttl));
    auto& hop = m_hops[size_t(o.ttl - 1)];
    if (!hop)
        hop = std::make_unique<HopHistory>();
    hop->Record(o, address);
}

const HopHistory* History::Hop(int ttl) const
{
    return ttl >= 1 && size_t(ttl) <= m_hops.size() ? m_hops[size_t(ttl - 1)].get() : nullptr;
}
