#pragma once
#include "net_address.h"

#include <cstdint>

// What a watch is asked to do, checked by its caller (the command line) before it starts.
struct WatchParameters {
    NetAddress target;
    int maxHops = 30; // the highest hop count probed while the target has not answered
    int waitMs = 3000; // each probe's deadline, after it left
    int64_t intervalUs = 1000000; // between the starts of two rounds
    int64_t count = 0; // rounds to send; 0: until stopped
    int64_t startDelayUs = 0; // the first round leaves this long after Start (several targets spread out)
    bool fixedFlow = false; // every probe on one flow, told apart by its checksum tag
    bool lookups = true; // look up each answering address's name, once
};

// Rounds whose probes may be in flight at once: their send times and sockets are kept
// (see ProbeRounds and the ICMP socket's adopted sockets, 64 each), so a wait spanning more
// rounds than this is cut to fit, or answers would go unmatched and count as loss.
inline constexpr int64_t kMaxRoundsInFlight = 60;
inline int MaxWaitMs(int64_t intervalUs)
{
    const int64_t ms = intervalUs * kMaxRoundsInFlight / 1000;
    return ms < 1 ? 1 : ms > 0x7fffffff ? 0x7fffffff : int(ms);
}

// Rounds the target may stay silent before the watch probes every hop count again: the
// target may have moved further away, or only declined a few answers.
inline constexpr int kSilentRoundsBeforeWidening = 3;
// Every this many rounds, the probe for the target's hop count leaves with two hop counts
// more, so a path that grew is noticed. It goes in place of the target's own probe, not
// beside it: every probe past the target reaches the target, whose answers are limited to
// about one a second (Linux: a burst of 6, then one a second per source), so one extra
// probe every ten rounds at the default interval empties that budget within a minute and
// shows as loss at the target. Answered by the target, it is the target's answer for the
// round; answered by a router, the path grew.
inline constexpr int64_t kBeyondTargetEvery = 10;
inline constexpr int kBeyondTargetHops = 2;

// The highest hop count round probes a row for: every one up to maxHops while the target's
// hop count is not known (0), else up to the target's.
inline int HighestHopOfRound(int targetTtl, int maxHops)
{
    return targetTtl <= 0 || targetTtl > maxHops ? maxHops : targetTtl;
}

// The hop count the probe of row `row` leaves with in round `round`: its own, except for
// the target's row every tenth round (see kBeyondTargetEvery), never above maxHops.
inline int TtlOfProbe(int64_t round, int row, int targetTtl, int maxHops)
{
    const int ttl = row + 1;
    if (targetTtl <= 0 || ttl != targetTtl || round % kBeyondTargetEvery != kBeyondTargetEvery - 1)
        return ttl;
    return ttl + kBeyondTargetHops < maxHops ? ttl + kBeyondTargetHops : maxHops;
}
