#include "watch_columns.h"

#include "hop_row_list.h"
#include "watch_table_model.h"

#include <QHeaderView>
#include <QMenu>

#include <algorithm>

FiveColumns FiveColumnsOf(const QHeaderView& header)
{
    FiveColumns five;
    for (int c = 0; c < HOP_COLUMN_COUNT; ++c) {
        five.order[size_t(c)] = c;
        five.widths[size_t(c)] = header.sectionSize(c);
    }
    std::stable_sort(five.order.begin(), five.order.end(),
        [&](int a, int b) { return header.visualIndex(a) < header.visualIndex(b); });
    return five;
}

void ApplyFiveColumns(QHeaderView& header, const FiveColumns& five)
{
    for (int v = 0; v < HOP_COLUMN_COUNT; ++v) {
        const int c = five.order[size_t(v)];
        header.moveSection(header.visualIndex(c), v);
        header.resizeSection(c, five.widths[size_t(c)]);
    }
}

std::vector<hl::WatchColumn> WatchColumnsOf(const QHeaderView& header)
{
    std::vector<int> byPlace;
    for (int c = HOP_COLUMN_COUNT; c < header.count(); ++c)
        byPlace.push_back(c);
    std::stable_sort(
        byPlace.begin(), byPlace.end(), [&](int a, int b) { return header.visualIndex(a) < header.visualIndex(b); });
    std::vector<hl::WatchColumn> columns(byPlace.size());
    for (size_t place = 0; place < byPlace.size(); ++place) {
        const int c = byPlace[place];
        hl::WatchColumn& column = columns[size_t(c - HOP_COLUMN_COUNT)];
        column.place = int32_t(place);
        column.hidden = header.isSectionHidden(c);
        // A hidden section reads as 0 wide; it keeps the width it had, shown again.
        column.width = column.hidden ? 0 : header.sectionSize(c);
    }
    return columns;
}

void ResetWatchColumns(QHeaderView& header)
{
    for (int c = HOP_COLUMN_COUNT; c < header.count() && c < WATCH_COLUMN_COUNT; ++c)
        header.resizeSection(c, kWatchColumns[c - HOP_COLUMN_COUNT].width);
}

void ApplyWatchColumns(QHeaderView& header, const std::vector<hl::WatchColumn>& columns)
{
    ResetWatchColumns(header);
    const int known = std::min(int(columns.size()), header.count() - HOP_COLUMN_COUNT);
    // Left to right by place; places beyond the columns known now leave gaps, closed here.
    std::vector<int> byPlace;
    for (int i = 0; i < known; ++i)
        byPlace.push_back(i);
    std::stable_sort(byPlace.begin(), byPlace.end(),
        [&](int a, int b) { return columns[size_t(a)].place < columns[size_t(b)].place; });
    int v = HOP_COLUMN_COUNT;
    for (int i : byPlace) {
        const int c = HOP_COLUMN_COUNT + i;
        header.moveSection(header.visualIndex(c), v++);
        if (columns[size_t(i)].width > 0)
            header.resizeSection(c, columns[size_t(i)].width);
        header.setSectionHidden(c, columns[size_t(i)].hidden);
    }
}

std::unique_ptr<QMenu> ColumnMenu(QHeaderView& header)
{
    if (!header.model() || header.count() <= HOP_COLUMN_COUNT)
        return nullptr;
    auto menu = std::make_unique<QMenu>(&header);
    for (int c = HOP_COLUMN_COUNT; c < header.count(); ++c) {
        QAction* action = menu->addAction(header.model()->headerData(c, Qt::Horizontal).toString());
        action->setCheckable(true);
        action->setChecked(!header.isSectionHidden(c));
        QObject::connect(action, &QAction::toggled, &header, [&header, c](bool shown) {
            header.setSectionHidden(c, !shown);
            // A column hidden while it was 0 wide would come back invisible.
            if (shown && header.sectionSize(c) < 8 && c < WATCH_COLUMN_COUNT)
                header.resizeSection(c, kWatchColumns[c - HOP_COLUMN_COUNT].width);
        });
    }
    return menu;
}

void PopUpColumnMenu(QHeaderView& header, const QPoint& pos)
{
    if (const std::unique_ptr<QMenu> menu = ColumnMenu(header))
        menu->exec(header.viewport()->mapToGlobal(pos));
}
