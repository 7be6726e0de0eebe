#include "hop_stats.h"

#include <algorithm>

HopStats::PerAddress& HopStats::Of(AddressId address)
{
    const auto it = std::find_if(m_addresses.begin(), m_addresses.end(),
        [address](const PerAddress& a) { return a.counters.address == address; });
    if (it != m_addresses.end())
        return *it;
    m_addresses.push_back(PerAddress { AddressCounters { address, {}, {}, -1 }, {} });
    return m_addresses.back();
}

// A probe's fate is decided: out of flight, or counted as sent if it never was in flight.
void HopStats::Decide(LossCounts& counts)
{
    if (counts.inFlight > 0)
        --counts.inFlight;
    else
        ++counts.sent;
}

void HopStats::Record(const ProbeOutcome& o, AddressId address)
{
    switch (o.status) {
    case ProbeStatus::InFlight:
        ++m_counts.sent;
        ++m_counts.inFlight;
        break;
    case ProbeStatus::Answered: {
        Decide(m_counts);
        ++m_counts.received;
        if (address != m_lastAnswerer)
            m_rtt.RestartJitter();
        m_rtt.Add(o.rttUs);
        if (address != kNoAddress) {
            PerAddress& a = Of(address);
            ++a.counters.counts.sent;
            ++a.counters.counts.received;
            a.rtt.Add(o.rttUs);
            a.counters.buckets.Add(o.rttUs);
            a.counters.lastAnswerUs = std::max(a.counters.lastAnswerUs, o.sentUs + int64_t(o.rttUs));
        }
        m_lastAnswerer = address;
        break;
    }
    case ProbeStatus::Lost:
        Decide(m_counts);
        ++m_counts.lost;
        if (m_lastAnswerer != kNoAddress) {
            LossCounts& counts = Of(m_lastAnswerer).counters.counts;
            ++counts.sent;
            ++counts.lost;
        }
        break;
    case ProbeStatus::Late:
        ++m_counts.late;
        if (address != kNoAddress)
            ++Of(address).counters.counts.late;
        break;
    case ProbeStatus::NotProbed: break;
    }
}

HopFigures HopStats::Figures() const
{
    HopFigures f;
    f.ttl = m_ttl;
    f.counts = m_counts;
    f.rtt = m_rtt.Figures();
    f.addresses.reserve(m_addresses.size());
    for (const PerAddress& a : m_addresses) {
        const AddressCounters& c = a.counters;
        f.addresses.push_back(AddressFigures { c.address, c.counts, a.rtt.Figures() });
    }
    return f;
}
