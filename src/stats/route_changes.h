#pragma once
#include "address_table.h"

#include <array>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

// Tells a changed route from load balancing, one finished round at a time.
//
// With a fixed flow every probe takes the same way, so a hop answering from another address
// than its last answer is a change, at once. In the default mode each probe is a flow of its
// own and an ECMP hop answers from several addresses in turn; a change there is an address
// never seen at that hop count among its last kAddressWindow answers, and it only counts once
// ConfirmingAnswers() answers in a row come from such unseen addresses (one unseen address in
// between known ones is a load-balanced path seen for the first time, and joins the known
// set). A hop count still learning its set (fewer than LearningAnswers() answers since the start
// or the last change) takes new addresses without calling it a change. Silent rounds are no
// change: the router may only have declined.
//
// The target found at another hop count is a change as well: nearer whenever it answers
// nearer; further only when the old hop count answered in the same round as something else
// (a lost probe at the old hop count, with the target answering a probe beyond it, is not).
//
// All the hops that change in a round make one RouteChange. The list keeps the newest
// kMaxRouteChanges and counts the older ones it let go.
inline constexpr int kAddressWindow = 64;
inline constexpr int kWarmupAnswers = 8;
inline constexpr int kConfirmAnswers = 3;
// The answers a hop count takes to learn its set, growing with the set: a balanced hop keeps
// showing addresses for the first time until its every way has answered once.
inline constexpr int LearningAnswers(size_t distinctKnown)
{
    return kWarmupAnswers + 4 * int(distinctKnown);
}
// A hop balanced over more addresses shows an unseen one more often while its set is still
// being learnt, so it takes a longer run of them to make a change: two more answers for each
// further address known there (5 at two addresses, 9 at four, 33 at sixteen).
inline constexpr size_t ConfirmingAnswers(size_t distinctKnown)
{
    return size_t(kConfirmAnswers) + 2 * (distinctKnown > 0 ? distinctKnown - 1 : 0);
}
inline constexpr size_t kMaxRouteChanges = 1000;

// What one round found: hopAddresses[i] answered hop count i + 1 (kNoAddress: silent);
// targetTtl is the lowest hop count at which the target answered, 0 when it did not.
struct RoundPath {
    int64_t round = 0;
    int64_t timeUs = 0;
    std::vector<AddressId> hopAddresses;
    int targetTtl = 0;
};

struct HopChange {
    int ttl = 0;
    AddressId oldAddress = kNoAddress; // the last known address before the change
    AddressId newAddress = kNoAddress; // the first address of the new route
    bool operator==(const HopChange&) const = default;
};

struct RouteChange {
    int64_t round = 0; // the round that showed the change beyond doubt
    int64_t timeUs = 0;
    std::vector<HopChange> hops;
    int oldTargetTtl = 0; // both 0 unless the target moved
    int newTargetTtl = 0;
};

class RouteChanges {
public:
    explicit RouteChanges(bool fixedFlow)
        : m_fixedFlow(fixedFlow)
    {
    }

    // Rounds in order. The change the round shows, also kept in changes().
    std::optional<RouteChange> Observe(const RoundPath& round);

    const std::deque<RouteChange>& changes() const { return m_changes; }
    int64_t droppedChanges() const { return m_dropped; }
    int targetTtl() const { return m_targetTtl; }

private:
    // The recent answers of one hop count.
    struct HopMemory {
        std::array<AddressId, kAddressWindow> known {}; // a ring of accepted answers
        int knownCount = 0; // valid entries, up to kAddressWindow
        int next = 0;
        int sinceChange = 0; // answers accepted since the start or the last change
        AddressId last = kNoAddress;
        std::vector<AddressId> unseen; // the answers in a row from unknown addresses

        bool Knows(AddressId a) const;
        size_t Distinct() const;
        void Accept(AddressId a);
    };
    std::optional<HopChange> ObserveHop(int ttl, AddressId address);

    bool m_fixedFlow;
    std::vector<HopMemory> m_hops;
    int m_targetTtl = 0;
    std::deque<RouteChange> m_changes;
    int64_t m_dropped = 0;
};
