#pragma once
#include "hop_row_list.h"
#include "summary_hops.h"
#include "summary_table.h"
#include "timeline.h"

#include <QAbstractTableModel>
#include <QMetaType>

#include <vector>

// The results list while watching: the trace's five columns first (Hop, IP address, Time,
// Host name, Result), then the statistics the terminal table shows. A row per hop count up
// to the target's (SummaryHops decides which), refreshed once a finished round; the texts
// are made here, from the typed snapshot, as the terminal table makes them.
//   IP address, Host name  the address that answered last, and its name (the address when
//                          none is known); "*" while the hop has never answered
//   Time                   the last round trip in whole milliseconds, as a trace shows it
//   Result                 "complete" at the target's hop, "next" at a router that answered,
//                          "failed" where nothing answered yet
//   Timeline               the recent rounds (RecentRoundTimelines) as a TimelineSlice in
//                          kTimelineRole, for the view to draw; its heading names the scale
//                          all rows share
enum WatchColumn {
    WC_HOP,
    WC_ADDRESS,
    WC_TIME,
    WC_HOST,
    WC_RESULT,
    WC_LOSS,
    WC_FWD,
    WC_SNT,
    WC_LAST,
    WC_AVG,
    WC_BEST,
    WC_WRST,
    WC_STDEV,
    WC_JTTR,
    WC_TIMELINE,
    WATCH_COLUMN_COUNT
};
// The statistics columns, from WC_LOSS on, as the list sets them up.
extern const HopColumn kWatchColumns[WATCH_COLUMN_COUNT - HOP_COLUMN_COUNT];

// True on a Loss% cell whose loss is partly the router declining to answer (Loss% above
// Fwd%): the view shows it muted, as the terminal table dims it.
inline constexpr int kWatchMutedRole = Qt::UserRole + 1;
inline constexpr int kTimelineRole = Qt::UserRole + 2;
// Rounds a Timeline cell shows.
inline constexpr int kTimelineRounds = 60;
Q_DECLARE_METATYPE(TimelineSlice)

class WatchTableModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;

    // Takes the figures as they are now, the Timeline up to `newestRound` (the last round
    // finished; -1: the newest the history holds). Rows that stay keep their selection.
    void Refresh(const PathStats& stats, const HostNames& names, int64_t newestRound = -1);
    void Clear();
    // The hop shown at `row`; nullptr for none.
    const SummaryHop* Hop(int row) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    struct Row {
        SummaryHop hop;
        SummaryRow cells; // the terminal table's texts of its figures, from Loss% to Jttr
        NetAddress last; // the address that answered last; empty for none
        QString lastName; // its name; empty for none known
        bool target = false;
        TimelineSlice timeline;
    };
    QString Text(const Row& row, int column) const;
    void Replace(std::vector<Row> rows);

    std::vector<Row> m_rows;
    double m_scaleUs = 0; // the timelines' shared scale
};
