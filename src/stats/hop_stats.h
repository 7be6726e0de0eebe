#pragma once
#include "address_table.h"
#include "probe_outcome.h"
#include "rtt_series.h"

#include <cstdint>
#include <optional>
#include <vector>

// The figures of one hop count of a watched path, and of each address answering at it
// (several under load balancing or after a route change). HopStats is written only by
// Record, from the watch loop; views read the snapshot Figures() returns.
//
// Counting: sent = answered + lost + in flight. A probe in flight has no fate yet, so it is
// left out of every ratio: loss_pct = lost / (sent - in flight) * 100. An answer after the
// probe's deadline does not bring the probe back: it stays lost and adds to `late`.
//
// Per address: a lost probe names no router; it is counted against the address that
// answered this hop count last (the router its path most likely met), and before any answer
// only in the hop's own totals. Per hop count, jitter restarts when the answering address
// changes: the difference between two routers' times says nothing about the path's jitter.
struct LossCounts {
    int64_t sent = 0;
    int64_t received = 0;
    int64_t lost = 0; // deadline passed, late answers included
    int64_t late = 0; // of the lost, answered after the deadline
    int64_t inFlight = 0;

    int64_t decided() const { return sent - inFlight; }
    // None while no probe has been decided.
    std::optional<double> lossPct() const
    {
        return decided() > 0 ? std::optional<double>(double(lost) * 100.0 / double(decided())) : std::nullopt;
    }
};

struct AddressFigures {
    AddressId address = kNoAddress;
    LossCounts counts;
    RttFigures rtt;
};

struct HopFigures {
    int ttl = 0;
    LossCounts counts;
    RttFigures rtt;
    std::vector<AddressFigures> addresses; // in order of first answer
};

class HopStats {
public:
    explicit HopStats(int ttl = 0)
        : m_ttl(ttl)
    {
    }

    // `address` is o.address's id in the target's AddressTable (kNoAddress when none).
    // A decided outcome without an InFlight before it counts its send as well.
    void Record(const ProbeOutcome& o, AddressId address);

    const LossCounts& counts() const { return m_counts; }
    AddressId lastAnswerer() const { return m_lastAnswerer; }
    HopFigures Figures() const;

private:
    struct PerAddress {
        AddressId address;
        LossCounts counts;
        RttSeries rtt;
    };
    PerAddress& Of(AddressId address);
    void Decide(LossCounts& counts);

    int m_ttl;
    LossCounts m_counts;
    RttSeries m_rtt;
    std::vector<PerAddress> m_addresses;
    AddressId m_lastAnswerer = kNoAddress;
};
