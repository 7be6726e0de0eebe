#pragma once
#include <QStyledItemDelegate>

// Draws the watch table's statistics cells: a cell the model marks muted (kWatchMutedRole)
// in the palette's muted text colour, as the terminal table dims the part of a hop's loss
// that is the router declining to answer; and a Timeline cell (kTimelineRole) as its strip.
class WatchTableDelegate final : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    // A Timeline cell asks for half a line more than text, so its strip has room to show.
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;
};
