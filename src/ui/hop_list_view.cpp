#include "hop_list_view.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>

#include <algorithm>
#include <numeric>
#include <vector>

HopListView::HopListView(QWidget* parent)
    : QTreeView(parent)
{
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setAllColumnsShowFocus(true);
    setSortingEnabled(false);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setTextElideMode(Qt::ElideRight);
    QHeaderView* h = header();
    h->setSectionsMovable(true);
    h->setSectionsClickable(false); // no sorting, nothing happens on a header click
    // The column shown last takes the room the others leave, so no empty strip of header
    // trails the columns (whichever column the user has dragged there).
    h->setStretchLastSection(true);
    h->setMinimumSectionSize(1); // the narrowest column is narrower than the style's default minimum
    h->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
}

int HopListView::GetColumnOrderArray(int* order, int count) const
{
    const int n = std::min(count, header()->count());
    for (int v = 0; v < n; ++v)
        order[v] = header()->logicalIndex(v);
    return std::max(n, 0);
}

bool HopListView::SetColumnOrderArray(const int* order, int count)
{
    QHeaderView* h = header();
    if (count != h->count())
        return false;
    std::vector<bool> seen(size_t(count), false);
    for (int v = 0; v < count; ++v) {
        if (order[v] < 0 || order[v] >= count || seen[size_t(order[v])])
            return false;
        seen[size_t(order[v])] = true;
    }
    for (int v = 0; v < count; ++v)
        h->moveSection(h->visualIndex(order[v]), v);
    return true;
}

std::vector<int> HopListView::SelectedRows() const
{
    std::vector<int> rows;
    if (!model() || !selectionModel())
        return rows;
    for (const QModelIndex& index : selectionModel()->selectedRows())
        rows.push_back(index.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

QString HopListView::SelectedRowsText() const
{
    return RowsText(SelectedRows());
}

QString HopListView::AllRowsText() const
{
    std::vector<int> rows(size_t(model() ? model()->rowCount(rootIndex()) : 0));
    std::iota(rows.begin(), rows.end(), 0);
    return RowsText(rows);
}

QString HopListView::RowsText(const std::vector<int>& rows) const
{
    if (!model())
        return {};
    const QHeaderView* h = header();
    QString text;
    for (int row : rows) {
        QStringList cells;
        for (int v = 0; v < h->count(); ++v) {
            const int column = h->logicalIndex(v);
            if (!h->isSectionHidden(column))
                cells << model()->index(row, column, rootIndex()).data(Qt::DisplayRole).toString();
        }
        text += cells.join(QLatin1Char('\t'));
        text += QLatin1Char('\n');
    }
    return text;
}

void HopListView::CopySelectedRows() const
{
    const QString text = SelectedRowsText();
    if (!text.isEmpty())
        QGuiApplication::clipboard()->setText(text);
}

void HopListView::keyPressEvent(QKeyEvent* event)
{
    // The view's own Copy would take only the current cell.
    if (event == QKeySequence::Copy) {
        CopySelectedRows();
        event->accept();
        return;
    }
    QTreeView::keyPressEvent(event);
}
