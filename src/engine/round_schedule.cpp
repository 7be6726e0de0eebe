#include "round_schedule.h"

#include <algorithm>

int64_t NextRoundDue(const std::vector<RowWait>& rows, int64_t roundStartUs, int64_t longestUs)
{
    longestUs = std::max<int64_t>(longestUs, 0);
    const int64_t latest = roundStartUs + longestUs;
    int64_t longestRtt = -1;
    for (const RowWait& row : rows) {
        if (row.answered)
            longestRtt = std::max(longestRtt, row.rttUs);
    }
    // From the far end back, so the nearest answer beyond each row is at hand.
    int64_t due = roundStartUs;
    int64_t nearestBeyond = -1;
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
            wait = kNearFactor * nearestBeyond;
        else if (longestRtt >= 0)
            wait = kTailFactor * longestRtt;
        wait = std::min(longestUs, std::max(kFloorUs, wait));
        due = std::max(due, it->lastSentUs + wait);
    }
    return std::min(due, latest);
}
