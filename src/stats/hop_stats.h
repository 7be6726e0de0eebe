#pragma once
#include "address_table.h"
#include "loss_counts.h"
#include "probe_outcome.h"
#include "rtt_buckets.h"
#include "rtt_series.h"

#include <cstdint>
#include <optional>
#include <vector>

// The figures of one hop count of a watched path, and of each address answering at it
// (several under load balancing or after a route change). HopStats is written only by
// Record, from the watch loop; views read the snapshot Figures() returns.
//
// Counting as LossCounts says: probes in flight are left out of every ratio, and an answer
// after the deadline leaves its probe lost.
//
// Per address: a lost probe names no router; it is counted against the address that
// answered this hop count last (the router its path most likely met), and before any answer
// only in the hop's own totals. Per hop count, jitter restarts when the answering address
// changes: the difference between two routers' times says nothing about the path's jitter.
struct AddressFigures {
    AddressId address = kNoAddress;
    LossCounts counts; // of decided probes only: a probe in flight has no address yet
    RttFigures rtt;
};

// What the metrics read of an address: its counters alone, without the round trips'
// figures (whose median and p95 sort the recent answers).
struct AddressCounters {
    AddressId address = kNoAddress;
    LossCounts counts; // as AddressFigures's
    RttBuckets buckets; // of its answers in time, for the metrics' histogram
    int64_t lastAnswerUs = -1; // when its last answer in time arrived, on the watch's clock
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
    // The addresses' counters, in order of first answer, i < addressCount().
    size_t addressCount() const { return m_addresses.size(); }
    const AddressCounters& AddressAt(size_t i) const { return m_addresses[i].counters; }

private:
    struct PerAddress {
        AddressCounters counters;
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
