#pragma once
#include <cstdint>
#include <vector>

// When waiting longer for a round's answers no longer pays. A row still silent waits
// for a multiple of the round trip that the answers so far lead one to expect for it:
// that of the nearest row beyond it that answered (its probe went the same way and
// further). A row beyond every answer (the target filtered, or at its ICMP rate limit)
// waits for three times the longest round trip answered so far, and at least for the
// one-second refill of a Linux host's ICMP rate limit, so that a target that has just
// answered another trace can answer the next round. Nothing answered yet: the longest
// wait. Answers that come later are still taken until the trace ends, so waiting less
// only re-probes sooner. Two floors keep slow routers from looking silent: the last round
// leaves at least a second after a row's first probe, so that a router limiting its ICMP
// to one answer a second (as a Linux host does per destination) has one for it again,
// and after the last round each silent row is given half a second from its first probe,
// for routers whose answers leave late, and a row beyond every answer the whole wait from
// its first probe, since the last router answers for a host that is down only once its
// neighbour lookup has failed (about three seconds on Linux).
struct RowWait {
    bool answered = false;
    int64_t rttUs = -1; // of the answer, when answered
    int64_t firstSentUs = -1; // of the row's first probe; -1 when never probed
    int64_t lastSentUs = -1; // of its latest probe
};

inline constexpr int64_t kNearFactor = 2; // silent row with an answer beyond it
inline constexpr int64_t kNearFloorUs = 100 * 1000;
inline constexpr int64_t kTailFactor = 3; // silent row beyond every answer
inline constexpr int64_t kTailFloorUs = 1000 * 1000;
inline constexpr int64_t kLastRoundFloorUs = 1000 * 1000; // from the row's first probe
inline constexpr int64_t kEndFloorUs = 500 * 1000; // the same, after the last round
// The longest wait is the upper bound of every one of these.

// The time (monotonic microseconds) at which the next round is due, or, with no rounds
// left, the trace may end: when every silent row among `rows` (the rows that still
// matter, in hop order) has waited as long as it should, and at the latest
// `roundStartUs + longestUs`. Returns roundStartUs when no row is left to wait for.
int64_t NextRoundDue(const std::vector<RowWait>& rows, int64_t roundStartUs, int64_t longestUs, int roundsLeft);
