#pragma once
// The results list's header as it goes between the trace's table (five columns) and a
// watch's (the five, then the statistics). Each switch of model resets a header, so the
// five are carried over as the user arranged them (order and widths), first; the
// statistics columns keep their own order, widths and hidden state, saved with the
// settings.

#include "settings/settings_ops.h"

#include <QPoint>

#include <array>
#include <memory>
#include <vector>

class QHeaderView;
class QMenu;

struct FiveColumns {
    std::array<int, 5> order {}; // the logical columns 0..4 left to right
    std::array<int, 5> widths {}; // by logical column
};
FiveColumns FiveColumnsOf(const QHeaderView& header);
// Puts the five first, in their order, with their widths.
void ApplyFiveColumns(QHeaderView& header, const FiveColumns& five);

// The columns after the five, as stored (see hl::WatchColumn).
std::vector<hl::WatchColumn> WatchColumnsOf(const QHeaderView& header);
// Takes what `columns` holds for the columns after the five; those it lacks (a list saved
// before a column was added) keep their defaults, after the rest.
void ApplyWatchColumns(QHeaderView& header, const std::vector<hl::WatchColumn>& columns);
// The default widths of the columns after the five.
void ResetWatchColumns(QHeaderView& header);

// The header's context menu: a ticked entry per column after the five, which hides or
// shows it. None when the model has no such column (the trace's table).
std::unique_ptr<QMenu> ColumnMenu(QHeaderView& header);
void PopUpColumnMenu(QHeaderView& header, const QPoint& pos);
