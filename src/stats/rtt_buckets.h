#pragma once
#include <array>
#include <cstdint>

// Round trips counted for a cumulative histogram as a metrics scraper reads it: fixed upper
// bounds doubling from 50 µs (50 µs, 100 µs, ... 3.28 s), fine enough for a LAN hop and a
// satellite link alike, then everything slower. A bound is inclusive (an answer of exactly
// 100 µs counts under "100 µs", as the scraper's `le` says), which the history's bins, lower
// edge inclusive, cannot give. Counts and sum grow for the watch's whole life: they are
// counters, never saturated nor reset.
inline constexpr int kRttBucketBounds = 17;
inline constexpr double kRttFirstBoundUs = 50.0;

inline constexpr double RttBucketBoundUs(int bucket)
{
    return kRttFirstBoundUs * double(int64_t(1) << bucket);
}

struct RttBuckets {
    // Not cumulative: [i] holds the answers in (bound i-1, bound i], the last those above
    // the last bound.
    std::array<int64_t, kRttBucketBounds + 1> counts {};
    double sumUs = 0;

    void Add(double rttUs)
    {
        int i = 0;
        while (i < kRttBucketBounds && rttUs > RttBucketBoundUs(i))
            ++i;
        ++counts[size_t(i)];
        sumUs += rttUs;
    }
};
