#pragma once
#include "summary_hops.h"

#include <QByteArray>

// The summary as CSV (--csv), RFC 4180 in UTF-8: a header row, then one record per hop and
// answering address, each ending in CRLF. The columns are the JSON summary's, under the same
// names: ttl, ip, hostname, sent, recv, loss_pct, forward_loss_pct, last, avg, best, worst,
// stddev, median, p95, jitter, javg, jmax, jint. A hop's first record carries its figures
// (those of its hop count, as in the JSON); a further address at the same hop gets a record
// of its own with the ttl, ip and hostname only, so that summing a column counts every probe
// once. A hop nobody answered has one record with an empty ip. Round trips are in
// milliseconds with three decimals, percentages with three decimals; a figure not known is
// an empty field.
QByteArray SummaryCsv(const std::vector<SummaryHop>& hops);

// One target's summary in a watch of several.
struct TargetSummary {
    QString target; // the host as given
    QString name; // its label; empty: none
    std::vector<SummaryHop> hops;
};
// A watch of several targets: the same records, each led by two columns, target and name
// (empty when the target has no label), the targets in the order given. Only such a watch
// gets them, so a script reading one target's CSV finds the columns where it always did.
QByteArray SummaryCsv(const std::vector<TargetSummary>& targets);
