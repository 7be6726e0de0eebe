#include "watch_table_delegate.h"

#include "watch_table_model.h"

void WatchTableDelegate::initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const
{
    QStyledItemDelegate::initStyleOption(option, index);
    if (!index.data(kWatchMutedRole).toBool())
        return;
    const QColor muted = option->palette.color(QPalette::Disabled, QPalette::Text);
    option->palette.setColor(QPalette::Text, muted);
    option->palette.setColor(QPalette::HighlightedText, muted);
}
