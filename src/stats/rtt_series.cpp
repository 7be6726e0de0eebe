#include "rtt_series.h"

#include <algorithm>
#include <cmath>

void RttSeries::Add(double rttUs)
{
    if (m_hasPrevious) {
        const double d = std::abs(rttUs - m_lastUs);
        ++m_differences;
        m_jitterUs = d;
        m_jitterSumUs += d;
        m_jmaxUs = std::max(m_jmaxUs, d);
        m_jintUs += (d - m_jintUs) / 16.0;
    }
    m_hasPrevious = true;
    m_lastUs = rttUs;
    m_bestUs = m_answers == 0 ? rttUs : std::min(m_bestUs, rttUs);
    m_worstUs = m_answers == 0 ? rttUs : std::max(m_worstUs, rttUs);
    const double d = rttUs - m_meanUs;
    m_meanUs += d / double(++m_answers);
    m_m2 += d * (rttUs - m_meanUs);
    m_recentUs[m_next] = rttUs;
    m_next = (m_next + 1) % kRecentAnswers;
}

RttFigures RttSeries::Figures() const
{
    RttFigures f;
    f.answers = m_answers;
    if (m_answers == 0)
        return f;
    f.lastUs = m_lastUs;
    f.bestUs = m_bestUs;
    f.worstUs = m_worstUs;
    f.avgUs = m_meanUs;
    if (m_answers > 1)
        f.stddevUs = std::sqrt(m_m2 / double(m_answers - 1));
    const auto kept = size_t(std::min<int64_t>(m_answers, kRecentAnswers));
    std::vector<double> sorted(m_recentUs.begin(), m_recentUs.begin() + kept);
    std::sort(sorted.begin(), sorted.end());
    f.medianUs = MedianOfSorted(sorted);
    f.p95Us = NearestRankOfSorted(sorted, 95);
    if (m_differences > 0) {
        f.jitterUs = m_jitterUs;
        f.javgUs = m_jitterSumUs / double(m_differences);
        f.jmaxUs = m_jmaxUs;
        f.jintUs = m_jintUs;
    }
    return f;
}

std::optional<double> MedianOfSorted(const std::vector<double>& sorted)
{
    const size_t n = sorted.size();
    if (n == 0)
        return std::nullopt;
    return n % 2 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2;
}

std::optional<double> NearestRankOfSorted(const std::vector<double>& sorted, int percent)
{
    if (sorted.empty())
        return std::nullopt;
    // ceil(percent * n / 100) in integers: no rounding of 0.95 * n can move the rank.
    const size_t rank = (size_t(percent) * sorted.size() + 99) / 100;
    return sorted[std::max<size_t>(rank, 1) - 1];
}
