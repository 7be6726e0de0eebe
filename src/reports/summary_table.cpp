#include "summary_table.h"

#include <algorithm>
#include <array>

namespace {

enum Column { Hop, Address, Name, Loss, Fwd, Snt, Last, Avg, Best, Wrst, StDev, Jttr, ColumnCount };
// The header's names for the columns other writers need.
static_assert(int(ColumnCount) == int(kSummaryColumns) && int(Hop) == int(kHopColumn)
    && int(Address) == int(kAddressColumn) && int(Name) == int(kNameColumn) && int(Loss) == int(kLossColumn));

const std::array<const char*, ColumnCount> kHeadings { "Hop", "Address", "Name", "Loss%", "Fwd%", "Snt", "Last", "Avg",
    "Best", "Wrst", "StDev", "Jttr" };
// Room for "100.0" and "999.9" from the first round on, so the live view's columns do not
// shift as the figures grow.
const int kMinNumberWidth = 5;

QString Truncated(const QString& text, int width)
{
    return text.size() <= width ? text : text.left(std::max(width - 1, 0)) + QChar(0x2026);
}

// Fits the columns into `limit` in the order summary_table.h gives; a column shown false is
// left out.
void Fit(std::array<int, ColumnCount>& widths, std::array<bool, ColumnCount>& shown, int limit)
{
    auto total = [&] {
        int sum = -1;
        for (int c = 0; c < ColumnCount; ++c)
            sum += shown[c] ? widths[c] + 1 : 0;
        return sum;
    };
    if (limit <= 0 || total() <= limit)
        return;
    if (shown[Name] && widths[Name] - (total() - limit) >= kMinNameWidth) {
        widths[Name] -= total() - limit;
        return;
    }
    shown[Name] = false;
}

void Clip(TableLine& line, int length)
{
    line.text.truncate(length);
    for (TextSpan& s : line.muted)
        s.length = std::clamp(length - s.start, 0, s.length);
    std::erase_if(line.muted, [](const TextSpan& s) { return s.length == 0; });
}

} // namespace

QString PercentText(std::optional<double> pct)
{
    return pct ? QString::number(*pct, 'f', 1) : QString();
}

QString MillisecondsText(std::optional<double> us)
{
    if (!us)
        return {};
    const double ms = *us / 1000.0;
    return QString::number(ms, 'f', ms < 1 ? 2 : ms < 1000 ? 1 : 0);
}

const std::array<const char*, kSummaryColumns>& SummaryHeadings()
{
    return kHeadings;
}

SummaryRow SummaryCells(const SummaryHop& hop)
{
    SummaryRow row;
    const RttFigures& rtt = hop.rtt;
    row.cells = { QString::number(hop.ttl), "*", QString(), PercentText(hop.counts.lossPct()),
        PercentText(hop.loss.forwardPct), QString::number(hop.counts.sent), MillisecondsText(rtt.lastUs),
        MillisecondsText(rtt.avgUs), MillisecondsText(rtt.bestUs), MillisecondsText(rtt.worstUs),
        MillisecondsText(rtt.stddevUs), MillisecondsText(rtt.jitterUs) };
    row.lossMuted = hop.loss.declinedPct && *hop.loss.declinedPct > 0;
    return row;
}

std::vector<SummaryRow> SummaryRows(const std::vector<SummaryHop>& hops)
{
    std::vector<SummaryRow> rows;
    for (const SummaryHop& hop : hops) {
        SummaryRow row = SummaryCells(hop);
        for (size_t i = 0; i < hop.hosts.size(); ++i) {
            if (i > 0)
                row = SummaryRow {};
            row.cells[Address] = QString::fromStdString(hop.hosts[i].address.ToText());
            row.cells[Name] = hop.hosts[i].hostname;
            rows.push_back(row);
        }
        if (hop.hosts.empty())
            rows.push_back(row);
    }
    return rows;
}

std::vector<TableLine> SummaryTable(const std::vector<SummaryHop>& hops, int width)
{
    const std::vector<SummaryRow> rows = SummaryRows(hops);
    std::array<int, ColumnCount> widths {};
    std::array<bool, ColumnCount> shown {};
    for (int c = 0; c < ColumnCount; ++c) {
        widths[c] = std::max(int(qstrlen(kHeadings[c])), IsTextColumn(c) || c == Hop ? 0 : kMinNumberWidth);
        for (const SummaryRow& row : rows)
            widths[c] = std::max(widths[c], int(row.cells[c].size()));
        shown[c] = true;
    }
    shown[Name] = std::any_of(rows.begin(), rows.end(), [](const SummaryRow& r) { return !r.cells[Name].isEmpty(); });
    Fit(widths, shown, width);

    auto line = [&](const std::array<QString, ColumnCount>& cells, bool lossMuted) {
        TableLine out;
        for (int c = 0; c < ColumnCount; ++c) {
            if (!shown[c])
                continue;
            if (c != Hop) // the first column, always shown
                out.text += ' ';
            const QString cell = Truncated(cells[c], widths[c]);
            if (c == Loss && lossMuted)
                out.muted.push_back(TextSpan { int(out.text.size()) + widths[c] - int(cell.size()), int(cell.size()) });
            out.text += IsTextColumn(c) ? cell.leftJustified(widths[c]) : cell.rightJustified(widths[c]);
        }
        int end = width > 0 ? std::min(int(out.text.size()), width) : int(out.text.size());
        while (end > 0 && out.text[end - 1] == ' ')
            --end;
        Clip(out, end);
        return out;
    };
    std::vector<TableLine> lines;
    std::array<QString, ColumnCount> headings;
    std::copy(kHeadings.begin(), kHeadings.end(), headings.begin());
    lines.push_back(line(headings, false));
    for (const SummaryRow& row : rows)
        lines.push_back(line(row.cells, row.lossMuted));
    return lines;
}

QString WithDimmedSpans(const TableLine& line)
{
    QString out = line.text;
    for (auto s = line.muted.rbegin(); s != line.muted.rend(); ++s)
        out.insert(s->start + s->length, "\x1b[22m").insert(s->start, "\x1b[2m");
    return out;
}
