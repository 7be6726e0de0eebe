#pragma once
#include "rtt_histogram.h"

#include <cstdint>

// What one period (10 s, 1 min, 15 min) of a hop count keeps: counts, the RTT extremes,
// sum and m2, and the histogram. Everything in it merges exactly: counts and bins add; min
// and max take the extremes; m2 merges by Chan's formula (m2 = m2a + m2b + d^2 na nb / n,
// d the difference of the means), so a bucket made of merged shorter buckets equals one
// filled directly with the same answers (m2 up to rounding). Sum and m2 are doubles: a
// float's 24 bits would lose a second-long round trip's microseconds. Bins saturate at
// 65,535, which a 15-minute bucket reaches only at intervals below 14 ms.
struct HistoryBucket {
    uint32_t sent = 0; // probes that left in the period, in flight or decided
    uint32_t received = 0;
    uint32_t lost = 0;
    float minUs = 0; // of the answers; meaningful when received > 0
    float maxUs = 0;
    double sumUs = 0;
    double m2 = 0; // µs²
    RttBinCounts bins {};

    void AddSent() { ++sent; }
    void AddLost() { ++lost; }
    void AddAnswer(double rttUs);
    void Merge(const HistoryBucket& other);

    uint32_t inFlight() const { return sent > received + lost ? sent - received - lost : 0; }
    double meanUs() const { return received ? sumUs / received : 0; }
};

// The spread a timeline draws for a period: grey bands p10-p90 and p25-p75 around the median.
struct RttBands {
    double p10Us = 0, p25Us = 0, medianUs = 0, p75Us = 0, p90Us = 0;
};
RttBands BandsOf(const HistoryBucket& bucket);
