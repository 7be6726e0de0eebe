#include "watch_table_delegate.h"

#include "timeline_painter.h"
#include "watch_table_model.h"

#include <QApplication>
#include <QPainter>

#include <algorithm>

void WatchTableDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const QVariant slice = index.data(kTimelineRole);
    if (!slice.canConvert<TimelineSlice>()) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    // The cell's background (selection included) as the style draws it, then the strip.
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);
    PaintTimeline(*painter, QRectF(option.rect).adjusted(2, 2, -2, -2), slice.value<TimelineSlice>(), option.palette);
}

void WatchTableDelegate::initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const
{
    QStyledItemDelegate::initStyleOption(option, index);
    if (!index.data(kWatchMutedRole).toBool())
        return;
    const QColor muted = option->palette.color(QPalette::Disabled, QPalette::Text);
    option->palette.setColor(QPalette::Text, muted);
    option->palette.setColor(QPalette::HighlightedText, muted);
}

QSize WatchTableDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    if (index.data(kTimelineRole).canConvert<TimelineSlice>())
        size.setHeight(std::max(size.height(), option.fontMetrics.height() * 3 / 2 + 4));
    return size;
}
