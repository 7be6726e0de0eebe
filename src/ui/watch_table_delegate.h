#pragma once
#include <QStyledItemDelegate>

// Draws the watch table's statistics cells: a cell the model marks muted (kWatchMutedRole)
// in the palette's muted text colour, as the terminal table dims the part of a hop's loss
// that is the router declining to answer.
class WatchTableDelegate final : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;
};
