#pragma once
#include "net_address.h"
#include "path_stats.h"
#include "summary_hops.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <cstdint>
#include <vector>

// The watch's figures as a Prometheus scrape reads them: the text exposition format 0.0.4,
// or OpenMetrics 1.0.0 when the scraper asks for it. A pure function of the statistics'
// snapshots, for any number of watched targets.
//
// Series, named by Prometheus's conventions (base units, counters ending in _total, host
// names only on the info series, so that the others stay few):
//   hoplantern_rounds_total{target}            rounds finished (every probe decided)
//   hoplantern_path_hops{target}               the target's hop count, 0 while not found
//   hoplantern_path_changes_total{target}      route changes seen
//   hoplantern_hop_info{target,ttl,hop_ip,hostname} 1
//   hoplantern_hop_probes_sent_total{target,target_ip,ttl,hop_ip}
//   hoplantern_hop_probes_received_total{...}  the same labels
//   hoplantern_hop_forward_loss_ratio{target,ttl}  0..1, over the last 5 minutes
//   hoplantern_hop_rtt_seconds{...}            histogram, buckets doubling from 50 µs
// Sent counts a probe once its fate is decided (answered, or its deadline passed), so that
// 1 - received / sent is the loss with probes in flight left out, as everywhere in the
// watch. A lost probe counts against the address that answered its hop count last; probes
// lost before any answer there count under hop_ip="". Summed over hop_ip, sent and received
// are the hop count's own figures, less those of addresses dropped as quiet. Only hop counts
// up to the target's appear, as in the summary. An address that has not answered for
// kMetricsQuietUs leaves every series it labels, so that a path changing often does not grow
// the series without bound; a hop count's last answerer stays, so that a hop gone dark keeps
// counting its losses.
inline constexpr int64_t kMetricsQuietUs = 600'000'000;

enum class MetricsFormat { Prometheus, OpenMetrics };

struct MetricsTarget {
    QString label; // as the user named the target
    NetAddress address; // what it resolved to
    const PathStats* stats = nullptr;
    HostNames names; // may be empty: no names
};

// `nowUs` on the watches' clock (where probes' send times are), for the recent loss and the
// quiet addresses.
QByteArray MetricsText(const std::vector<MetricsTarget>& targets, int64_t nowUs, MetricsFormat format);

// The format an Accept header asks for: OpenMetrics 1.0.0 when it ranks that (with no
// version or version 1.0.0) above the text format, the text format otherwise.
MetricsFormat FormatForAccept(QByteArrayView accept);
QByteArray ContentTypeOf(MetricsFormat format);

// The index page: the targets watched, and where their metrics are.
QByteArray MetricsIndexPage(const std::vector<MetricsTarget>& targets);
