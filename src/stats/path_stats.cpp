#include "path_stats.h"

void PathStats::Record(const ProbeOutcome& o)
{
    if (o.ttl < 1 || o.ttl > 255)
        return;
    const AddressId address = m_addresses.Intern(o.address);
    while (m_hops.size() < size_t(o.ttl))
        m_hops.emplace_back(int(m_hops.size()) + 1);
    m_hops[size_t(o.ttl - 1)].Record(o, address);
    m_history.Record(o, address);
    if (o.status != ProbeStatus::Answered)
        return;
    if (!m_openRounds.count(o.round) && m_openRounds.size() >= kOpenRounds)
        m_openRounds.erase(m_openRounds.begin());
    RoundPath& path = m_openRounds[o.round];
    path.round = o.round;
    if (path.hopAddresses.size() < size_t(o.ttl))
        path.hopAddresses.resize(size_t(o.ttl), kNoAddress);
    path.hopAddresses[size_t(o.ttl - 1)] = address;
    if (o.fromTarget && (path.targetTtl == 0 || o.ttl < path.targetTtl))
        path.targetTtl = o.ttl;
}

std::optional<RouteChange> PathStats::FinishRound(int64_t round, int64_t timeUs)
{
    RoundPath path;
    if (const auto it = m_openRounds.find(round); it != m_openRounds.end()) {
        path = std::move(it->second);
        m_openRounds.erase(it);
    }
    path.round = round;
    path.timeUs = timeUs;
    ++m_roundsFinished;
    return m_routes.Observe(path);
}

const HopStats* PathStats::Hop(int ttl) const
{
    return ttl >= 1 && size_t(ttl) <= m_hops.size() ? &m_hops[size_t(ttl - 1)] : nullptr;
}

PathFigures PathStats::Figures() const
{
    PathFigures f;
    f.targetTtl = m_routes.targetTtl();
    std::vector<LossCounts> counts;
    for (const HopStats& hop : m_hops) {
        f.hops.push_back(hop.Figures());
        counts.push_back(hop.counts());
    }
    f.forward = ForwardLosses(counts, f.targetTtl);
    return f;
}
