#include "forward_loss.h"

#include <algorithm>

std::vector<ForwardLoss> ForwardLosses(const std::vector<LossCounts>& hops, int targetTtl)
{
    std::vector<ForwardLoss> out(hops.size());
    const size_t last = targetTtl > 0 ? std::min(hops.size(), size_t(targetTtl)) : hops.size();
    std::optional<double> lowestBehind; // over hops i..last-1, walking from the target back
    for (size_t i = last; i-- > 0;) {
        const std::optional<double> loss = hops[i].lossPct();
        if (!loss)
            continue;
        lowestBehind = lowestBehind ? std::min(*lowestBehind, *loss) : *loss;
        out[i] = ForwardLoss { loss, lowestBehind, *loss - *lowestBehind };
    }
    return out;
}
