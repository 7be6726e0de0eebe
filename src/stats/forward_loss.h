#pragma once
#include "loss_counts.h"

#include <optional>
#include <vector>

// How much of a hop's loss is lost traffic, and how much is the router declining to answer.
//
// A probe to hop k that is lost on a link before k would have been lost just the same on
// its way to any hop behind k, since it crosses that link too: real loss carries on down the
// path, so no later hop can show less of it. A router that limits or polices its ICMP
// answers shows loss that no later hop shows. Hence
//   forward_loss_pct(k) = min over j in k..T of loss_pct(j)   (T: the target's hop count)
//   declined_pct(k)     = loss_pct(k) - forward_loss_pct(k).
// The figures must cover the same rounds: a hop's whole-watch counts do when every round
// probes hops 1..T; for a stretch of time take each hop's bucket of one period
// (HistoryBucket::counts()).
// It is a rule over the rates, not over single rounds: a link that drops packets at random
// drops each hop's probe of a round independently, so "lost here and at every later hop in
// the same round" would call nearly all of that real loss declined.
struct ForwardLoss {
    std::optional<double> lossPct; // none while no probe to the hop was decided
    std::optional<double> forwardPct; // none with lossPct
    std::optional<double> declinedPct; // lossPct - forwardPct
};

// `hops[i]` holds the counts of hop count i + 1. Hops beyond `targetTtl` (probes past the
// target) are not on the path and get no figures; targetTtl <= 0 (target not found) takes
// every hop given. Hops without a loss figure are passed over by the minimum.
std::vector<ForwardLoss> ForwardLosses(const std::vector<LossCounts>& hops, int targetTtl);
