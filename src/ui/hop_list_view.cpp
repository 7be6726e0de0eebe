#include "hop_list_view.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>

#include <algorithm>
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
    h->setStretchLastSection(false);
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

QString HopListView::SelectedRowsText() const
{
    if (!model() || !selectionModel())
        return {};
    std::vector<int> rows;
    for (const QModelIndex& index : selectionModel()->selectedRows())
        rows.push_back(index.row());
    std::sort(rows.begin(), rows.end());

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
