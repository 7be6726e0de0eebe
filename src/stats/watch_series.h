#pragma once
#include "forward_loss.h"
#include "history_bucket.h"
#include "path_stats.h"

#include <cstdint>
#include <vector>

// The points a chart of a whole watch draws, per hop count: one per round while the watch
// is short enough to draw round by round (kMaxRoundPoints rounds, all still in the raw
// ring), else one per bucket of the finest history tier that holds the whole watch (the
// newest week at most). Hop counts as the summary shows them: up to the target's own.
//
// Each point also carries the loss of its period over the whole path (ForwardLosses of
// every hop count's bucket for that period), so a chart can tell the loss that carries on
// down the path from a router declining to answer. A single round is no period to judge
// that by (a link dropping at random drops each hop's probe of a round independently), so
// a round's point takes the figures of the 10 s bucket it falls in.
inline constexpr int64_t kMaxRoundPoints = 1080;

struct SeriesPoint {
    int64_t startUs = 0; // when the round was due, or the bucket's period began (watch clock)
    int64_t received = 0;
    int64_t lost = 0; // decided lost, late answers included
    RttBands rtt; // of the answers, when received > 0; a round's: all five its round trip
    ForwardLoss period;
};

struct WatchSeries {
    bool perRound = true;
    int64_t firstUs = 0; // the first point's start
    int64_t stepUs = 0; // from one point to the next: the interval, or the tier's width
    std::vector<std::vector<SeriesPoint>> hops; // [ttl - 1], each with the same points
};

// `firstRoundUs`: when round 0 was due on the watch's clock; `rounds`: the rounds sent.
WatchSeries SeriesOfWatch(const PathStats& path, int64_t firstRoundUs, int64_t intervalUs, int64_t rounds);
