#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

// The round-trip figures of a series of answers (one hop count, or one address at it),
// updated in constant time and memory per answer however long the watch runs:
// - avg and stddev by Welford's update in double precision (d = x - mean; mean += d/n;
//   m2 += d*(x - mean); stddev = sqrt(m2/(n-1)), the sample deviation), which stays exact
//   where a sum of squares would cancel away (a 1 s round trip with microseconds of noise);
// - median and p95 over the last kRecentAnswers answers only, exact, from a sorted copy made
//   when read, so they follow the path as it is now. The median is the middle answer, or the
//   mean of the two middle ones for an even count; p95 is by nearest rank: the answer of rank
//   ceil(0.95 n) in ascending order, the least answer that 95 % of them do not exceed;
// - jitter: D = |rtt - previous rtt| of consecutive answers (lost probes between them do not
//   matter), the first answer giving none; last D, mean of D (javg), max of D (jmax) and
//   RFC 3550's smoothed J += (D - J)/16 (jint, starting from 0).
inline constexpr int kRecentAnswers = 60;

struct RttFigures {
    int64_t answers = 0;
    std::optional<double> lastUs, bestUs, worstUs, avgUs;
    std::optional<double> stddevUs; // from two answers on
    std::optional<double> medianUs, p95Us; // of the recent window
    std::optional<double> jitterUs, javgUs, jmaxUs, jintUs; // from the second answer on
};

class RttSeries {
public:
    void Add(double rttUs);
    // The next answer gives no difference: it follows an answer from another address.
    void RestartJitter() { m_hasPrevious = false; }
    RttFigures Figures() const;

private:
    int64_t m_answers = 0;
    double m_lastUs = 0;
    double m_bestUs = 0;
    double m_worstUs = 0;
    double m_meanUs = 0;
    double m_m2 = 0; // sum of squared deviations from the mean, µs²
    std::array<double, kRecentAnswers> m_recentUs {}; // a ring; the newest at m_next - 1
    int m_next = 0;
    bool m_hasPrevious = false;
    int64_t m_differences = 0;
    double m_jitterUs = 0;
    double m_jitterSumUs = 0;
    double m_jmaxUs = 0;
    double m_jintUs = 0;
};

// Median and nearest-rank percentile (0 < percent <= 100) of values sorted ascending; none
// when there are none.
std::optional<double> MedianOfSorted(const std::vector<double>& sorted);
std::optional<double> NearestRankOfSorted(const std::vector<double>& sorted, int percent);
