#pragma once
#include "address_table.h"
#include "forward_loss.h"
#include "history.h"
#include "hop_stats.h"
#include "probe_outcome.h"
#include "route_changes.h"

#include <map>
#include <optional>
#include <vector>

// Everything the watch keeps about one target, behind its one write path: the watch loop
// calls Record for every probe's outcome and FinishRound once a round's probes are all
// decided; views read the const accessors and Figures(), never writing. Interns the
// answering addresses, so that statistics, history and route changes share one numbering.
// No locks: the writer and its views share a thread (the event loop), or a view copies
// Figures() under the writer's own lock.
struct PathFigures {
    std::vector<HopFigures> hops; // [ttl - 1], hop counts 1..maxTtl() (never probed: empty)
    std::vector<ForwardLoss> forward; // [ttl - 1], up to the target's hop count
    int targetTtl = 0; // 0 while the target has not answered
};

class PathStats {
public:
    // The window and the HTML report draw a week of history; the terminal and the agent
    // need minutes (see HistoryDepth).
    explicit PathStats(bool fixedFlow, HistoryDepth depth = HistoryDepth::Week)
        : m_history(depth)
        , m_routes(fixedFlow)
    {
    }

    void Record(const ProbeOutcome& o);
    // The route change the round shows, if any (also kept in routeChanges()). Rounds are to
    // be finished in order; a round never finished is let go once kOpenRounds newer rounds
    // are open.
    std::optional<RouteChange> FinishRound(int64_t round, int64_t timeUs);

    PathFigures Figures() const;
    const AddressTable& addresses() const { return m_addresses; }
    const HopStats* Hop(int ttl) const;
    int maxTtl() const { return int(m_hops.size()); }
    const History& history() const { return m_history; }
    const RouteChanges& routeChanges() const { return m_routes; }
    // Rounds finished so far: every probe of theirs decided.
    int64_t roundsFinished() const { return m_roundsFinished; }

    static constexpr size_t kOpenRounds = 64;

private:
    AddressTable m_addresses;
    std::vector<HopStats> m_hops; // [ttl - 1]
    History m_history;
    RouteChanges m_routes;
    std::map<int64_t, RoundPath> m_openRounds; // answers of rounds not finished yet
    int64_t m_roundsFinished = 0;
};

// A short history's raw ring must still hold every round that can be open, and more.
static_assert(kRecentRawRounds >= 2 * int(PathStats::kOpenRounds));
