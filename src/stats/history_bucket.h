#pragma once
#include "loss_counts.h"
#include "rtt_histogram.h"

#include <algorithm>
#include <cstdint>
#include <limits>

// What one period (10 s, 1 min, 15 min) of a hop count keeps, in 128 bytes: counts, the
// RTT extremes, sum and m2, and the histogram. Everything in it merges exactly: counts and
// bins add; min and max take the extremes; m2 merges by Chan's formula (m2 = m2a + m2b +
// d^2 na nb / n, d the difference of the means), so a bucket made of merged shorter buckets
// equals one filled directly with the same answers (m2 up to rounding). Sum and m2 are
// doubles: a float's 24 bits would lose a second-long round trip's microseconds. Counts and
// bins stop at 65,535, which a 15-minute bucket reaches only at intervals below 14 ms.
struct HistoryBucket {
    double sumUs = 0;
    double m2 = 0; // µs²
    float minUs = 0; // of the answers; meaningful when received > 0
    float maxUs = 0;
    uint16_t sent = 0; // probes that left in the period, in flight or decided
    uint16_t received = 0;
    uint16_t lost = 0;
    RttBinCounts bins {};

    void AddSent() { sent = SaturatingSum(sent, 1); }
    void AddLost() { lost = SaturatingSum(lost, 1); }
    void AddAnswer(double rttUs);
    void Merge(const HistoryBucket& other);

    int inFlight() const { return std::max(0, sent - received - lost); }
    double meanUs() const { return received ? sumUs / received : 0; }
    // For loss and forward loss over the same period at every hop count.
    LossCounts counts() const { return LossCounts { sent, received, lost, 0, inFlight() }; }

    static uint16_t SaturatingSum(uint32_t a, uint32_t b)
    {
        return uint16_t(std::min<uint32_t>(a + b, std::numeric_limits<uint16_t>::max()));
    }
};

// The spread a timeline draws for a period: grey bands p10-p90 and p25-p75 around the median.
struct RttBands {
    double p10Us = 0, p25Us = 0, medianUs = 0, p75Us = 0, p90Us = 0;
};
RttBands BandsOf(const HistoryBucket& bucket);
