#include "rtt_histogram.h"

#include <algorithm>
#include <cmath>

namespace {
const std::array<double, kRttBins + 1>& Edges()
{
    static const auto edges = [] {
        std::array<double, kRttBins + 1> e {};
        for (int i = 0; i <= kRttBins; ++i)
            e[size_t(i)] = kRttFirstEdgeUs * std::exp2(i / 3.0);
        return e;
    }();
    return edges;
}
} // namespace

double RttBinEdgeUs(int bin)
{
    return Edges()[size_t(std::clamp(bin, 0, kRttBins))];
}

int RttBinOf(double rttUs)
{
    // Against the edges themselves, so that a time on an edge is never put below it by a
    // logarithm's rounding.
    const auto& e = Edges();
    const auto above = std::upper_bound(e.begin(), e.end(), rttUs);
    return std::max(0, int(above - e.begin()) - 1);
}

double EstimateRttPercentileUs(const RttBinCounts& bins, double minUs, double maxUs, double fraction)
{
    double total = 0;
    for (uint16_t c : bins)
        total += c;
    if (total == 0)
        return 0;
    const double rank = std::clamp(fraction, 0.0, 1.0) * total;
    double below = 0;
    for (int i = 0; i <= kRttOverflowBin; ++i) {
        const double count = bins[size_t(i)];
        if (count == 0 || below + count < rank) {
            below += count;
            continue;
        }
        const double lo = std::clamp(i == 0 ? minUs : RttBinEdgeUs(i), minUs, maxUs);
        const double hi = std::clamp(i == kRttOverflowBin ? maxUs : RttBinEdgeUs(i + 1), lo, maxUs);
        const double within = (rank - below) / count;
        return lo > 0 ? lo * std::pow(hi / lo, within) : lo + (hi - lo) * within;
    }
    return maxUs;
}
