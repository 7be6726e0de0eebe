#pragma once
#include "path_stats.h"
#include "route_changes.h"
#include "summary_hops.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <cstdint>

// JSON Lines of a watch (--json): one compact JSON object per line, in UTF-8, each line
// ended by LF, written as the watch goes so that a reader such as jq follows it live.
//
// Every object has "schema": "hoplantern.watch.1" and a "type"; keys come in any order.
// Times are RFC 3339 in UTC with milliseconds ("2026-12-07T03:07:04.125Z"); round trips
// and jitter are in milliseconds to the microsecond (three decimals); percentages have
// three decimals. null stands for a figure not known (no answer yet, no second answer for
// a deviation or jitter); NaN and infinities never appear.
//
// {"type": "round"}: one per finished round, once every probe of it was decided.
//   time    string  when the round's probes left
//   round   number  the round's number
//   hops    array   one object per hop count the round probed, in hop order; every tenth
//                   round also probes one or two hop counts past the target's own
//     ttl     number  the hop count, from 1
//     ip      string or null  who answered (null: nobody)
//     rtt_ms  number or null  the round trip, from the probe leaving to its answer arriving
//     status  string  "answered", "lost" (no answer before the probe's deadline), "late"
//                     (answered after it: the probe stays lost) or "in_flight"
//
// {"type": "route_change"}: the path a round found differs from the one before it, beyond
// what load balancing shows (with --fixed-flow, any hop answering from another address).
//   time    string  when it was noticed
//   round   number  the round that showed the change
//   hops    array   the hop counts that changed, in hop order
//     ttl   number
//     old   string or null  the address answering there before
//     new   string or null  the address answering there now
//   target_ttl  object, only when the target was found at another hop count:
//     old   number  the hop count it answered at before (0: not yet found)
//     new   number  the hop count it answers at now
//
// {"type": "summary"}: the last line, once the last round's probes are decided (also when
// the watch is interrupted); a watch of several targets ends with one summary per target,
// in the order they were given.
//   target      string  the host as given
//   name        string  the target's label, only when its targets file gave one
//   target_ip   string or null  the address watched
//   rounds      number  rounds sent
//   interval_s  number  seconds between rounds
//   hops        array   one object per hop count up to the target's own (every hop count
//                       probed while the target never answered), in hop order
//     ttl              number
//     hosts            array of {"ip": string, "hostname": string or null}: the addresses
//                      that answered at this hop count, in the order they first did
//                      (several under load balancing, or after a route change)
//     sent             number  probes sent, those still in flight included
//     recv             number  answers before the deadline
//     loss_pct         number or null  lost / (sent - in flight) * 100; probes still in
//                      flight count neither way
//     forward_loss_pct number or null  the least loss_pct of this hop count and every later
//                      one up to the target: the loss that carries on down the path. What
//                      loss_pct shows above it is the router declining to answer (rate
//                      limits, policing), not traffic lost
//     last, avg, best, worst  number or null  the last, mean, least and greatest round trip
//     stddev           number or null  the sample standard deviation (n - 1), from two answers
//     median, p95      number or null  of the last 60 answers; p95 by nearest rank
//     jitter           number or null  |rtt - previous rtt| of the last two consecutive
//                      answers from the same address (lost probes between them do not matter;
//                      an answer from another address starts afresh)
//     javg, jmax       number or null  the mean and the greatest of those differences
//     jint             number or null  RFC 3550's smoothed jitter: J += (D - J) / 16
//
// A watch of several targets (more than one HOST, or --targets) also puts "target" (and
// "name", when the target has a label) on every round and route_change line, so that one
// stream carries them all.
//
// Unlike the jitter columns of other tracers, jitter, javg and jmax take absolute
// differences of consecutive answers only; jint is the RFC 3550 interarrival jitter itself,
// not a multiple of it.

inline constexpr char kWatchSchema[] = "hoplantern.watch.1";

// What the summary says of the watch itself.
struct WatchRunInfo {
    QString host; // as given
    NetAddress target; // the address watched
    int64_t rounds = 0;
    double intervalS = 1;
};

// The target a line is about, in a watch of several.
struct LineTarget {
    QString host; // as given
    QString name; // its label; empty: none
};

// The round's line, from what its probes left in the path's history: to be called once the
// round is finished (PathStats::FinishRound). `time`: when its probes left, in any time zone.
// `target`: the target the line is about, when several are watched; null for one.
QByteArray RoundJsonLine(
    const PathStats& path, int64_t round, const QDateTime& time, const LineTarget* target = nullptr);
QByteArray RouteChangeJsonLine(const RouteChange& change, const AddressTable& addresses, const QDateTime& time,
    const LineTarget* target = nullptr);
// `name`: the target's label, if it has one.
QByteArray SummaryJsonLine(const WatchRunInfo& run, const std::vector<SummaryHop>& hops, const QString& name = {});
