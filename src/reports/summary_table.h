#pragma once
#include "summary_hops.h"

#include <QString>

#include <array>

#include <vector>

// The summary as a text table: what --report prints at the end and what the live terminal
// view redraws every round. Columns:
//   Hop    the hop count                     Snt   probes sent, in flight included
//   Address, Name  who answered there        Last, Avg, Best, Wrst  round trips
//   Loss%  lost / (sent - in flight)         StDev  sample standard deviation
//   Fwd%   forward loss (see json_lines.h)   Jttr  |rtt - previous rtt|, last two answers
// Numbers are right-aligned under right-aligned headings, text left-aligned under
// left-aligned ones, one space apart; a figure not known is left blank. Percentages have one
// decimal ("12.5"); round trips are in milliseconds, with two decimals below 1 ms ("0.35",
// so a fast hop never reads 0), one decimal below 1 s ("12.3"), none above ("1234").
// A hop with several addresses takes a line per address: the first carries the hop count and
// the hop's figures, the others only their address and name.
//
// Loss% above Fwd% is the router declining to answer, not loss on the path: a hop line whose
// loss is partly declined marks its Loss% cell to be shown muted. The lines carry the marks
// as spans, so the terminal view dims them (WithDimmedSpans) and a plain report ignores them.
//
// Fitting a width: names are truncated ("…") first, down to kMinNameWidth; then the Name
// column goes; past that the lines are cut at the width, losing the rightmost columns first
// (an address is never shortened: the part cut off would be what tells two apart). Widths
// count UTF-16 units, one column each for addresses and the ASCII names DNS gives. A table
// without any name has no Name column.
inline constexpr int kMinNameWidth = 8;

// The table's cells before any fitting, for writers that lay them out themselves (HTML):
// the same texts, in the column order above, a hop with several addresses taking a row per
// address. lossMuted: the Loss% cell is partly a router declining to answer.
enum SummaryColumn { kHopColumn, kAddressColumn, kNameColumn, kLossColumn, kSummaryColumns = 12 };
struct SummaryRow {
    std::array<QString, kSummaryColumns> cells;
    bool lossMuted = false;
};
const std::array<const char*, kSummaryColumns>& SummaryHeadings();
// Address and Name are text, left-aligned; the others numbers, right-aligned.
inline bool IsTextColumn(int column)
{
    return column == kAddressColumn || column == kNameColumn;
}
std::vector<SummaryRow> SummaryRows(const std::vector<SummaryHop>& hops);
// One hop's first row before its address: the hop count and figures, Address "*", no Name.
SummaryRow SummaryCells(const SummaryHop& hop);

struct TextSpan {
    int start = 0;
    int length = 0;
    bool operator==(const TextSpan&) const = default;
};

struct TableLine {
    QString text; // no line end, no trailing spaces
    std::vector<TextSpan> muted;
};

// The heading line, then the hops'. `width`: the terminal's columns; 0 for no limit.
std::vector<TableLine> SummaryTable(const std::vector<SummaryHop>& hops, int width = 0);

// A figure as the table shows it (see above): a percentage with one decimal, a round trip
// in milliseconds; empty for a figure not known. The window's columns show the same.
QString PercentText(std::optional<double> pct);
QString MillisecondsText(std::optional<double> us);

// The line with its muted spans in SGR dim (ESC[2m ... ESC[22m), for a terminal.
QString WithDimmedSpans(const TableLine& line);
