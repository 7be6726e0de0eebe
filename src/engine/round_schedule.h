#pragma once
#include <cstdint>
#include <vector>

// When waiting longer for a round's answers no longer pays. A row still silent waits
// for a multiple of the round trip that the answers so far lead one to expect for it:
// that of the nearest row beyond it that answered (its probe went the same way and
// further), or, beyond every answer, the longest round trip answered so far, a little
// more generously. Nothing answered yet: the longest wait. Answers that come later are still
// taken until the trace ends, so waiting less only re-probes sooner.
struct RowWait {
    bool answered = false;
    int64_t rttUs = -1;      // of the answer, when answered
    int64_t lastSentUs = -1; // of the row's latest probe; -1 when never probed
};

inline constexpr int64_t kNearFactor = 2;           // silent row with an answer beyond it
inline constexpr int64_t kTailFactor = 3;           // silent row beyond every answer
inline constexpr int64_t kFloorUs = 100 * 1000;     // never wait less than this…
// …unless the longest wait, which always wins, is shorter.

// The time (monotonic microseconds) at which the next round is due, or the trace may
// end after its last round: when every silent row among `rows` (the rows that still
// matter, in hop order) has waited as long as it should, and at the latest
// `roundStartUs + longestUs`. Returns roundStartUs when no row is left to wait for.
int64_t NextRoundDue(const std::vector<RowWait>& rows, int64_t roundStartUs, int64_t longestUs);
