#pragma once
#include "forward_loss.h"
#include "history.h"

#include <cstdint>

// Loss and forward loss over the last few minutes, from the history's 10-second buckets:
// what a dashboard wants now, where the whole watch's figures would dilute a fault of the
// last minutes in hours of clean rounds. The span is taken in whole buckets, the current
// one included: the buckets whose period ends after nowUs - spanUs (300 s: the last 30).
// Every hop count's counts cover the same periods, as ForwardLosses needs.
inline constexpr int64_t kRecentLossSpanUs = 300'000'000;
// A history of minutes holds every bucket of the span, and the one under way.
static_assert(kRecentTiers[0].widthUs == kHistoryTiers[0].widthUs
    && kRecentTiers[0].buckets * kRecentTiers[0].widthUs >= kRecentLossSpanUs + 2 * kRecentTiers[0].widthUs);

std::vector<LossCounts> RecentCounts(const History& history, int64_t nowUs, int64_t spanUs = kRecentLossSpanUs);
std::vector<ForwardLoss> RecentForwardLosses(
    const History& history, int targetTtl, int64_t nowUs, int64_t spanUs = kRecentLossSpanUs);
