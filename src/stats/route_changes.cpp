#include "route_changes.h"

#include <algorithm>

bool RouteChanges::HopMemory::Knows(AddressId a) const
{
    return std::find(known.begin(), known.begin() + knownCount, a) != known.begin() + knownCount;
}

size_t RouteChanges::HopMemory::Distinct() const
{
    std::array<AddressId, kAddressWindow> sorted = known;
    std::sort(sorted.begin(), sorted.begin() + knownCount);
    return size_t(std::unique(sorted.begin(), sorted.begin() + knownCount) - sorted.begin());
}

void RouteChanges::HopMemory::Accept(AddressId a)
{
    known[next] = a;
    next = (next + 1) % kAddressWindow;
    knownCount = std::min(knownCount + 1, kAddressWindow);
    ++sinceChange;
    last = a;
}

std::optional<HopChange> RouteChanges::ObserveHop(int ttl, AddressId address)
{
    HopMemory& hop = m_hops[size_t(ttl - 1)];
    const AddressId before = hop.last;
    if (m_fixedFlow) {
        hop.last = address;
        if (before != kNoAddress && before != address)
            return HopChange { ttl, before, address };
        return std::nullopt;
    }
    if (hop.Knows(address) || hop.sinceChange < LearningAnswers(hop.Distinct())) {
        // Unknown addresses before a known one were load balancing seen for the first time.
        for (AddressId a : hop.unseen)
            hop.Accept(a);
        hop.unseen.clear();
        hop.Accept(address);
        return std::nullopt;
    }
    hop.unseen.push_back(address);
    if (hop.unseen.size() < ConfirmingAnswers(hop.Distinct()))
        return std::nullopt;
    const HopChange change { ttl, before, hop.unseen.front() };
    // Forget the old route: what the hop knows from now on is the new one.
    const std::vector<AddressId> fresh = std::move(hop.unseen);
    hop = HopMemory {};
    for (AddressId a : fresh)
        hop.Accept(a);
    return change;
}

std::optional<RouteChange> RouteChanges::Observe(const RoundPath& round)
{
    if (m_hops.size() < round.hopAddresses.size())
        m_hops.resize(round.hopAddresses.size());
    RouteChange change { round.round, round.timeUs, {}, 0, 0 };
    for (size_t i = 0; i < round.hopAddresses.size(); ++i) {
        if (round.hopAddresses[i] == kNoAddress)
            continue;
        if (const auto hop = ObserveHop(int(i + 1), round.hopAddresses[i]))
            change.hops.push_back(*hop);
    }
    const int found = round.targetTtl;
    if (found > 0 && found != m_targetTtl) {
        const bool oldHopAnsweredOtherwise = m_targetTtl > 0 && size_t(m_targetTtl) <= round.hopAddresses.size()
            && round.hopAddresses[size_t(m_targetTtl - 1)] != kNoAddress;
        if (m_targetTtl > 0 && (found < m_targetTtl || oldHopAnsweredOtherwise)) {
            change.oldTargetTtl = m_targetTtl;
            change.newTargetTtl = found;
        }
        if (m_targetTtl == 0 || found < m_targetTtl || oldHopAnsweredOtherwise)
            m_targetTtl = found;
    }
    if (change.hops.empty() && change.newTargetTtl == 0)
        return std::nullopt;
    m_changes.push_back(change);
    if (m_changes.size() > kMaxRouteChanges) {
        m_changes.pop_front();
        ++m_dropped;
    }
    return change;
}
