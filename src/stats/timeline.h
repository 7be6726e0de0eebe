#pragma once
#include "history.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

// What a timeline draws of one hop count, the window's Timeline cells and hop chart alike:
// a point per period (a round, or a bucket of a history tier), evenly spaced, oldest first.
// Each point has the spread of its answers' round trips (p10, median, p90) and its loss,
// split into the part that carries on down the path and the part the router declined (see
// forward_loss.h): lost traffic is drawn strong, a router's declining muted.
struct TimelinePoint {
    int64_t round = -1; // a round's number; -1 for a bucket
    int64_t timeUs = 0; // a bucket's start on the watch's clock
    int decided = 0; // probes whose fate is known
    int lost = 0;
    int forwardLost = 0; // of the lost, those counted as loss that carries on
    std::optional<double> p10Us, medianUs, p90Us; // none when nothing answered
    AddressId address = kNoAddress; // the period's last answer's address
};

struct TimelineSlice {
    std::vector<TimelinePoint> points;
    double scaleUs = 0; // the round trip at the top of the drawing, one for all rows
};

// The Timeline cells: the last `rounds` rounds up to `newestRound`, a point each, for hop
// counts 1..lastTtl. A round's spread and median are over the answers of the last
// kStripWindow rounds up to it, so one round's answer draws as a line, not a dot.
//
// Which lost rounds are loss that carries on: over the rounds shown, each hop's forward
// loss is the lowest loss of it and every hop behind it (ForwardLosses); that share of its
// lost rounds is drawn strong, taking first the rounds that most hops behind it lost too.
// A rule for single rounds alone would call nearly all random loss declined.
inline constexpr int kStripWindow = 8;

// The hue, in degrees, a median is drawn in for the loss that carries on at its point: 120
// (green) at none, through yellow, to 0 (red) from kRedLossPct on. The window's drawings and
// the HTML report's take it alike, so one watch reads the same in both.
inline constexpr double kRedLossPct = 20;
inline double LossHue(double forwardLossPct)
{
    return 120 * (1 - std::clamp(forwardLossPct, 0.0, kRedLossPct) / kRedLossPct);
}
std::vector<TimelineSlice> RecentRoundTimelines(const History& history, int lastTtl, int64_t newestRound, int rounds);

// Hop count `ttl` over the `buckets` periods of history tier `level` up to the one holding
// `newestUs`, a point a period (periods not held: empty points). The loss that carries on is
// each period's forward loss over hop counts 1..lastTtl in that same period, as
// forward_loss.h has it; the spread is the bucket's histogram's (BandsOf). scaleUs is the
// nice scale of the greatest p90.
TimelineSlice BucketTimeline(const History& history, int ttl, int lastTtl, size_t level, int64_t newestUs, int buckets);

// The newest round any hop count holds; -1 for none.
int64_t NewestRound(const History& history);

// A round number at or above `us` for a scale: 1, 2 or 5 times a power of ten, at least
// 100 µs.
double NiceScaleUs(double us);
// The greatest p90 of all points, as a nice scale, set on every slice.
void ShareScale(std::vector<TimelineSlice>& slices);
