#pragma once
#include <QString>
#include <QTreeView>

// The results list: a flat table of hop rows in which the user may drag the column
// headers into another order and select several rows at once. Ctrl+C copies the selected
// rows as tab-separated text in the order the columns are shown.
class HopListView final : public QTreeView {
    Q_OBJECT
public:
    explicit HopListView(QWidget* parent = nullptr);

    // The model's columns in their display order: entry k is the column shown at
    // position k. For at most `count` entries; returns how many were written.
    int GetColumnOrderArray(int* order, int count) const;
    // Shows column order[k] at position k for the first `count` entries. The entries
    // must name each column once; anything else leaves the order as it is.
    bool SetColumnOrderArray(const int* order, int count);

    // The selected rows, top to bottom, one line each, cells separated by tabs.
    QString SelectedRowsText() const;
    void CopySelectedRows() const;

protected:
    void keyPressEvent(QKeyEvent* event) override;
};
