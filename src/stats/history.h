#pragma once
#include "address_table.h"
#include "history_bucket.h"
#include "probe_outcome.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

// What a watched path did over time, per hop count, in fixed memory however long the watch
// runs: the raw outcome of each of the last kRawRounds rounds (for the recent timeline and
// reports), and consolidated tiers of buckets (10 s for 3 hours, 1 min for a day, 15 min
// for a week) from which timelines over hours and days are drawn. Every outcome goes into
// every tier directly, by the time its probe left, so an answer that comes rounds later still
// lands in its own period; a higher tier is nonetheless what merging the lower one's
// buckets gives (see HistoryBucket). Tiers grow as their periods come, to about 0.45 MB per
// hop count after a week: 30 hops stay under 14 MB.
//
// That depth is for what draws timelines (the window, the HTML report). The terminal and
// the agent read only the rounds just finished and the last minutes' loss: their history
// keeps a few minutes (HistoryDepth::Minutes), about 6 kB per hop count however long they
// run, so an agent watching 50 targets of 30 hops does not grow to 675 MB over a week.
inline constexpr int kRawRounds = 3600;

// One round at one hop count, 8 bytes.
struct RawSample {
    float rttUs = NAN; // answered, or late; NaN otherwise
    AddressId address = kNoAddress;
    ProbeStatus status = ProbeStatus::NotProbed;
};

// The last `rounds` rounds (kRawRounds unless told), indexed by round number. Rounds
// skipped read NotProbed.
class RawRing {
public:
    explicit RawRing(int rounds = kRawRounds)
        : m_rounds(rounds)
    {
    }
    // A round older than the ring holds is dropped.
    void Record(int64_t round, const RawSample& sample);
    // NotProbed for a round outside [oldestRound(), newestRound()].
    RawSample At(int64_t round) const;
    int64_t newestRound() const { return m_newestRound; } // -1 before the first
    int64_t oldestRound() const;
    int rounds() const { return m_rounds; }
    size_t HeapBytes() const { return m_samples.capacity() * sizeof(RawSample); }

private:
    size_t SlotOf(int64_t round) const;

    int m_rounds;
    std::vector<RawSample> m_samples; // grown up to m_rounds as rounds come
    int64_t m_firstRound = -1; // the first round written takes slot 0
    int64_t m_newestRound = -1;
};

struct TierShape {
    int64_t widthUs;
    int buckets;
};
inline constexpr std::array<TierShape, 3> kHistoryTiers { {
    { 10'000'000, 1080 }, // 3 hours
    { 60'000'000, 1440 }, // 24 hours
    { 900'000'000, 672 }, // 7 days
} };

// How far back a history reaches.
enum class HistoryDepth {
    Week, // kRawRounds rounds and kHistoryTiers: timelines over hours and days
    Minutes, // kRecentRawRounds rounds and kRecentTiers: round lines and the recent loss
};
// Every round still open (PathStats::kOpenRounds, kMaxRoundsInFlight) with room to spare:
// an outcome decided or answered late must still find its round's earlier outcome.
inline constexpr int kRecentRawRounds = 128;
// The recent loss's 5 minutes (kRecentLossSpanUs) and the period under way, with a minute to
// spare.
inline constexpr std::array<TierShape, 1> kRecentTiers { { { 10'000'000, 37 } } };

// A ring of buckets for consecutive periods of one width; period p covers
// [p * widthUs, (p + 1) * widthUs) on the watch's clock.
class HistoryTier {
public:
    explicit HistoryTier(TierShape shape);
    TierShape shape() const { return m_shape; }
    int64_t PeriodOf(int64_t timeUs) const { return timeUs / m_shape.widthUs; }
    // The bucket of the period that holds timeUs, started afresh when its slot held an older
    // period; nullptr for a period older than the ring holds.
    HistoryBucket* BucketAt(int64_t timeUs);
    // Nullptr for a period not held (never written, or overwritten by a newer one).
    const HistoryBucket* Find(int64_t period) const;
    int64_t newestPeriod() const { return m_newestPeriod; } // -1 before the first
    size_t HeapBytes() const
    {
        return m_buckets.capacity() * sizeof(HistoryBucket) + m_periods.capacity() * sizeof(int32_t);
    }

private:
    size_t SlotOf(int64_t period) const;

    TierShape m_shape;
    std::vector<HistoryBucket> m_buckets; // grown up to shape.buckets as periods come
    std::vector<int32_t> m_periods; // of each slot; -1 empty (2^31 periods of 10 s: 680 years)
    int64_t m_firstPeriod = -1; // the first period written takes slot 0
    int64_t m_newestPeriod = -1;
};

class HopHistory {
public:
    explicit HopHistory(HistoryDepth depth = HistoryDepth::Week);
    void Record(const ProbeOutcome& o, AddressId address);
    const RawRing& raw() const { return m_raw; }
    // Level < tiers(): all of kHistoryTiers for a week's depth, the first alone for minutes.
    const HistoryTier& tier(size_t level) const { return m_tiers[level]; }
    size_t tiers() const { return m_tiers.size(); }
    // What the rings hold on the heap now, for measuring.
    size_t HeapBytes() const;

private:
    RawRing m_raw;
    std::vector<HistoryTier> m_tiers;
};

// One target's history: a HopHistory for each hop count probed so far.
class History {
public:
    explicit History(HistoryDepth depth = HistoryDepth::Week)
        : m_depth(depth)
    {
    }
    void Record(const ProbeOutcome& o, AddressId address);
    // Nullptr for a hop count never probed.
    const HopHistory* Hop(int ttl) const;
    int maxTtl() const { return int(m_hops.size()); }
    HistoryDepth depth() const { return m_depth; }

private:
    HistoryDepth m_depth;
    std::vector<std::unique_ptr<HopHistory>> m_hops; // [ttl - 1]
};
