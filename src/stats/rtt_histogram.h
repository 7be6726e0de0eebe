#pragma once
#include <array>
#include <cstdint>

// Round-trip times sorted into fixed log-spaced bins, so that any number of buckets can be
// added together exactly (bin by bin) and percentiles drawn from the sum. Bin i holds
// [50 µs * 2^(i/3), 50 µs * 2^((i+1)/3)): three bins per doubling, each 26 % wide, from
// 50 µs to 3.28 s. Bin 0 also holds everything faster; bin kRttOverflowBin everything slower.
inline constexpr int kRttBins = 48;
inline constexpr int kRttOverflowBin = kRttBins;
inline constexpr double kRttFirstEdgeUs = 50.0;

using RttBinCounts = std::array<uint16_t, kRttBins + 1>;

// The lower edge of bin i, 0 <= i <= kRttBins (the last is where overflow begins).
double RttBinEdgeUs(int bin);
int RttBinOf(double rttUs);

// The time below which `fraction` (0..1) of the counted answers lie, interpolated
// geometrically inside the bin it falls in. The observed minimum and maximum bound every
// bin (bin 0 and the overflow bin have no edge of their own on the open side), so a bucket
// whose answers all fall in one bin, or are all equal, gives figures within them.
// 0 when nothing was counted.
double EstimateRttPercentileUs(const RttBinCounts& bins, double minUs, double maxUs, double fraction);
