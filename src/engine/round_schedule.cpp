#include "round_schedule.h"

#include <algorithm>

int64_t NextRoundDue(const std::vector<RowWait>& rows, int64_t roundStartUs, int64_t longestUs, int roundsLeft)
{
    longestUs = std::max<int64_t>(longestUs, 0);
    auto bounded = [longestUs](int64_t wait, int64_t floor) { return std::min(longestUs, std::max(floor, wait)); };
    int64_t longestRtt = -1;
    for (const RowWait& row : rows) {
        if (row.answered)
            longestRtt = std::max(longestRtt, row.rttUs);
    }
    int64_t due = roundStartUs;
    int64_t nearestBeyond = -1;
    // From the far end back, so the nearest answer beyond each row is at hand.
    for (auto it = rows.rbegin(); it != rows.rend(); ++it) {
        if (it->answered) {
            if (it->rttUs >= 0)
                nearestBeyond = it->rttUs;
            continue;
        }
        if (it->lastSentUs < 0)
            continue;
        int64_t wait = longestUs;
        if (nearestBeyond >= 0)
            wait = bounded(kNearFactor * nearestBeyond, kNearFloorUs);
        else if (longestRtt >= 0)
            wait = bounded(kTailFactor * longestRtt, kTailFloorUs);
        due = std::max(due, it->lastSentUs + wait);
        int64_t floor = roundsLeft == 1 ? kLastRoundFloorUs : roundsLeft <= 0 ? kEndFloorUs : 0;
        // The end of the path may answer as late as the user allows: a router whose
        // neighbour lookup for the next hop fails answers only after it gives up.
        if (roundsLeft <= 0 && nearestBeyond < 0)
            floor = longestUs;
        due = std::max(due, it->firstSentUs + std::min(longestUs, floor));
    }
    return std::min(due, roundStartUs + longestUs);
}
