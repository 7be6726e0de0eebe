#include "summary_hops.h"

std::vector<SummaryHop> SummaryHops(const PathFigures& path, const AddressTable& addresses, const HostNames& names)
{
    const size_t shown = path.targetTtl > 0 ? std::min(path.hops.size(), size_t(path.targetTtl)) : path.hops.size();
    std::vector<SummaryHop> hops;
    hops.reserve(shown);
    for (size_t i = 0; i < shown; ++i) {
        const HopFigures& figures = path.hops[i];
        SummaryHop hop;
        hop.ttl = int(i) + 1;
        hop.counts = figures.counts;
        hop.rtt = figures.rtt;
        if (i < path.forward.size())
            hop.loss = path.forward[i];
        for (const AddressFigures& a : figures.addresses) {
            const NetAddress& address = addresses.At(a.address);
            if (address.valid())
                hop.hosts.push_back(SummaryHost { address, names ? names(address) : QString() });
        }
        hops.push_back(std::move(hop));
    }
    return hops;
}
