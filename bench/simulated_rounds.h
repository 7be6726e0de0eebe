#pragma once
// One simulated round of a watched path, for the benchmarks that fill statistics and
// history on a fake clock: every hop count's probe recorded in flight, then decided.
// 1 % is lost on a link before hop 10 (every hop from there), hop 7 answers half the
// time, and round trips grow 0.5 ms a hop with log-normal noise.
#include "path_stats.h"

#include <random>

// `addressOf(ttl)`: who answers at that hop count this round. Returns the answers.
template <typename AddressOf>
int RecordSimulatedRound(PathStats& path, int64_t round, int64_t sentUs, int64_t intervalUs, int hops,
    std::mt19937& random, AddressOf addressOf)
{
    std::lognormal_distribution<double> noise(0, 0.3);
    std::uniform_real_distribution<double> percent(0, 100);
    int answered = 0;
    for (int ttl = 1; ttl <= hops; ++ttl) {
        ProbeOutcome o;
        o.round = round;
        o.ttl = ttl;
        o.sentUs = sentUs;
        path.Record(o);
        const bool lost = (ttl >= 10 && percent(random) < 1) || (ttl == 7 && percent(random) < 50);
        o.status = lost ? ProbeStatus::Lost : ProbeStatus::Answered;
        o.rttUs = 500.0 * ttl * noise(random);
        o.address = addressOf(ttl);
        o.fromTarget = ttl == hops;
        path.Record(o);
        answered += !lost;
    }
    path.FinishRound(round, sentUs + intervalUs);
    return answered;
}
