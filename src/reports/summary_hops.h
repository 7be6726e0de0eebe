#pragma once
#include "address_table.h"
#include "forward_loss.h"
#include "loss_counts.h"
#include "net_address.h"
#include "path_stats.h"
#include "rtt_series.h"

#include <QString>

#include <functional>
#include <vector>

// The hops a summary shows, in hop order, each with its answering addresses and their names:
// the one typed snapshot the JSON, CSV and text writers all read, so the three agree.
//
// Only hop counts up to the target's own appear: a round now and then probes one or two hop
// counts past the target (to notice a path that grew), and those probes are answered by the
// target itself, not by a hop of the path. While the target has not answered, every hop count
// probed appears. A hop's figures are those of its hop count (every probe sent with that
// time-to-live, whoever answered it); the addresses are listed in the order they first
// answered.

// The name of an answering address, looked up once by the watch; an empty text when there is
// none (not looked up, as with -n, or the lookup found nothing).
using HostNames = std::function<QString(const NetAddress&)>;

struct SummaryHost {
    NetAddress address;
    QString hostname; // empty: none known
};

struct SummaryHop {
    int ttl = 0;
    std::vector<SummaryHost> hosts; // none while the hop has not answered
    LossCounts counts;
    RttFigures rtt;
    ForwardLoss loss; // loss_pct, forward_loss_pct and the declined part between them
};

// `names` may be empty (no names).
std::vector<SummaryHop> SummaryHops(const PathFigures& path, const AddressTable& addresses, const HostNames& names);
