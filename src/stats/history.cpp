#include "history.h"

#include <algorithm>

int64_t RawRing::oldestRound() const
{
    return std::max<int64_t>(0, m_newestRound - m_rounds + 1);
}

// Slots are taken in order from the first round written, and made only when reached: a hop
// probed once holds one sample, not an hour's.
size_t RawRing::SlotOf(int64_t round) const
{
    return size_t(((round - m_firstRound) % m_rounds + m_rounds) % m_rounds);
}

void RawRing::Record(int64_t round, const RawSample& sample)
{
    if (round < 0 || (m_newestRound >= 0 && round < oldestRound()))
        return;
    if (m_firstRound < 0)
        m_firstRound = round;
    const auto put = [this](int64_t r, const RawSample& s) {
        const size_t slot = SlotOf(r);
        if (slot >= m_samples.size()) {
            if (m_samples.capacity() <= slot)
                m_samples.reserve(std::min(size_t(m_rounds), std::max(slot + 1, 2 * m_samples.capacity())));
            m_samples.resize(slot + 1);
        }
        m_samples[slot] = s;
    };
    // Rounds skipped since the newest read as not probed, not as what the slot held before.
    for (int64_t r = std::max(m_newestRound + 1, round - m_rounds + 1); r < round; ++r)
        put(r, RawSample {});
    m_newestRound = std::max(m_newestRound, round);
    put(round, sample);
}

RawSample RawRing::At(int64_t round) const
{
    if (m_newestRound < 0 || round < oldestRound() || round > m_newestRound)
        return RawSample {};
    const size_t slot = SlotOf(round);
    return slot < m_samples.size() ? m_samples[slot] : RawSample {};
}

HistoryTier::HistoryTier(TierShape shape)
    : m_shape(shape)
{
}

size_t HistoryTier::SlotOf(int64_t period) const
{
    const int64_t n = m_shape.buckets;
    return size_t(((period - m_firstPeriod) % n + n) % n);
}

HistoryBucket* HistoryTier::BucketAt(int64_t timeUs)
{
    const int64_t period = PeriodOf(std::max<int64_t>(timeUs, 0));
    if (m_newestPeriod >= 0 && period <= m_newestPeriod - m_shape.buckets)
        return nullptr;
    if (m_firstPeriod < 0)
        m_firstPeriod = period;
    // Slots are taken in order from the first period written, and made only when reached:
    // a hop probed once (past the target, in a first round) holds one bucket, not a week's.
    const size_t slot = SlotOf(period);
    if (slot >= m_buckets.size()) {
        if (m_buckets.capacity() <= slot) {
            const size_t capacity = std::min(size_t(m_shape.buckets), std::max(slot + 1, 2 * m_buckets.capacity()));
            m_buckets.reserve(capacity);
            m_periods.reserve(capacity);
        }
        m_buckets.resize(slot + 1);
        m_periods.resize(slot + 1, -1);
    }
    if (m_periods[slot] != period) {
        m_buckets[slot] = HistoryBucket {};
        m_periods[slot] = int32_t(period);
    }
    m_newestPeriod = std::max(m_newestPeriod, period);
    return &m_buckets[slot];
}

const HistoryBucket* HistoryTier::Find(int64_t period) const
{
    if (period < 0 || m_firstPeriod < 0)
        return nullptr;
    const size_t slot = SlotOf(period);
    return slot < m_periods.size() && m_periods[slot] == period ? &m_buckets[slot] : nullptr;
}

HopHistory::HopHistory(HistoryDepth depth)
    : m_raw(depth == HistoryDepth::Week ? kRawRounds : kRecentRawRounds)
{
    const auto add = [this](const auto& shapes) {
        m_tiers.reserve(shapes.size());
        for (const TierShape& shape : shapes)
            m_tiers.emplace_back(shape);
    };
    if (depth == HistoryDepth::Week)
        add(kHistoryTiers);
    else
        add(kRecentTiers);
}

size_t HopHistory::HeapBytes() const
{
    size_t bytes = m_raw.HeapBytes() + m_tiers.capacity() * sizeof(HistoryTier);
    for (const HistoryTier& tier : m_tiers)
        bytes += tier.HeapBytes();
    return bytes;
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
        hop = std::make_unique<HopHistory>(m_depth);
    hop->Record(o, address);
}

const HopHistory* History::Hop(int ttl) const
{
    return ttl >= 1 && size_t(ttl) <= m_hops.size() ? m_hops[size_t(ttl - 1)].get() : nullptr;
}
