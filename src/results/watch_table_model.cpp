#include "watch_table_model.h"

#include <cmath>

const HopColumn kWatchColumns[WATCH_COLUMN_COUNT - HOP_COLUMN_COUNT] = {
    { "Loss%", 50, Qt::AlignRight },
    { "Fwd%", 50, Qt::AlignRight },
    { "Snt", 45, Qt::AlignRight },
    { "Last", 50, Qt::AlignRight },
    { "Avg", 50, Qt::AlignRight },
    { "Best", 50, Qt::AlignRight },
    { "Wrst", 50, Qt::AlignRight },
    { "StDev", 50, Qt::AlignRight },
    { "Jttr", 50, Qt::AlignRight },
    { "Timeline", 180, Qt::AlignLeft },
};

namespace {
const HopColumn& ColumnOf(int column)
{
    return column < HOP_COLUMN_COUNT ? kHopColumns[column] : kWatchColumns[column - HOP_COLUMN_COUNT];
}
} // namespace

void WatchTableModel::Refresh(const PathStats& stats, const HostNames& names, int64_t newestRound)
{
    const PathFigures figures = stats.Figures();
    std::vector<Row> rows;
    for (SummaryHop& hop : SummaryHops(figures, stats.addresses(), names)) {
        Row row;
        const HopStats* hopStats = stats.Hop(hop.ttl);
        row.last = hopStats ? stats.addresses().At(hopStats->lastAnswerer()) : NetAddress {};
        if (row.last.valid() && names)
            row.lastName = names(row.last);
        row.target = hop.ttl == figures.targetTtl;
        row.cells = SummaryCells(hop);
        row.hop = std::move(hop);
        rows.push_back(std::move(row));
    }
    const std::vector<TimelineSlice> timelines = RecentRoundTimelines(stats.history(), int(rows.size()),
        newestRound >= 0 ? newestRound : NewestRound(stats.history()), kTimelineRounds);
    for (size_t i = 0; i < rows.size(); ++i)
        rows[i].timeline = timelines[i];
    const double scale = timelines.empty() ? 0 : timelines.front().scaleUs;
    Replace(std::move(rows));
    if (scale != m_scaleUs) {
        m_scaleUs = scale;
        emit headerDataChanged(Qt::Horizontal, WC_TIMELINE, WC_TIMELINE);
    }
}

void WatchTableModel::Clear()
{
    Replace({});
}

void WatchTableModel::Replace(std::vector<Row> rows)
{
    const int before = int(m_rows.size());
    const int after = int(rows.size());
    if (after < before) {
        beginRemoveRows({}, after, before - 1);
        m_rows = std::move(rows);
        endRemoveRows();
    } else if (after > before) {
        beginInsertRows({}, before, after - 1);
        m_rows = std::move(rows);
        endInsertRows();
    } else {
        m_rows = std::move(rows);
    }
    if (const int kept = std::min(before, after); kept > 0)
        emit dataChanged(index(0, 0), index(kept - 1, WATCH_COLUMN_COUNT - 1));
}

const SummaryHop* WatchTableModel::Hop(int row) const
{
    return row >= 0 && row < int(m_rows.size()) ? &m_rows[size_t(row)].hop : nullptr;
}

int WatchTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int WatchTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : WATCH_COLUMN_COUNT;
}

QString WatchTableModel::Text(const Row& row, int column) const
{
    const SummaryHop& hop = row.hop;
    const QString address = row.last.valid() ? QString::fromStdString(row.last.ToText()) : QStringLiteral("*");
    switch (column) {
    case WC_HOP: return QString::number(hop.ttl);
    case WC_ADDRESS: return address;
    case WC_TIME: return hop.rtt.lastUs ? QString::number(std::llround(*hop.rtt.lastUs / 1000.0)) : QString();
    case WC_HOST: return row.lastName.isEmpty() ? address : row.lastName;
    case WC_RESULT:
        return row.target         ? QStringLiteral("complete")
            : hop.rtt.answers > 0 ? QStringLiteral("next")
                                  : QStringLiteral("failed");
    default:
        // The statistics, in the terminal table's order from its Loss% on.
        static_assert(WC_JTTR - WC_LOSS == kSummaryColumns - 1 - kLossColumn);
        if (column >= WC_LOSS && column <= WC_JTTR)
            return row.cells.cells[size_t(kLossColumn + column - WC_LOSS)];
        return {};
    }
}

QVariant WatchTableModel::data(const QModelIndex& index, int role) const
{
    if (index.row() < 0 || index.row() >= int(m_rows.size()) || index.column() < 0
        || index.column() >= WATCH_COLUMN_COUNT)
        return {};
    const Row& row = m_rows[size_t(index.row())];
    switch (role) {
    case Qt::DisplayRole: return Text(row, index.column());
    case Qt::TextAlignmentRole: return QVariant::fromValue(ColumnOf(index.column()).alignment | Qt::AlignVCenter);
    case kWatchMutedRole: return index.column() == WC_LOSS && row.cells.lossMuted;
    case kTimelineRole: return index.column() == WC_TIMELINE ? QVariant::fromValue(row.timeline) : QVariant();
    case kAnswerAddressRole: return row.last.valid() ? QString::fromStdString(row.last.ToText()) : QVariant();
    default: return {};
    }
}

QVariant WatchTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= WATCH_COLUMN_COUNT)
        return {};
    switch (role) {
    case Qt::DisplayRole:
        // The scale every row's strip shares, from 0 at the bottom to this at the top.
        if (section == WC_TIMELINE && m_scaleUs > 0)
            return QStringLiteral("Timeline 0\u2013%1 ms").arg(MillisecondsText(m_scaleUs));
        return QString::fromLatin1(ColumnOf(section).title);
    case Qt::TextAlignmentRole: return QVariant::fromValue(ColumnOf(section).alignment | Qt::AlignVCenter);
    default: return {};
    }
}
