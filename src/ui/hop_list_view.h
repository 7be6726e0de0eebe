#pragma once
#include <QString>
#include <QTreeView>

#include <vector>

class QMenu;

// The results list: a flat table of hop rows in which the user may drag the column
// headers into another order and select several rows at once. Ctrl+C copies the selected
// rows as tab-separated text in the order the columns are shown; the right mouse button
// offers the same and more (hop_list_menu.cpp).
class HopListView final : public QTreeView {
    Q_OBJECT
public:
    // The commands of the rows' context menu; each menu action carries its own as data.
    enum RowCommand { CopyRow, CopyAll, CopyAddress, SaveReport };

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
    // Every row, as the selected ones are copied.
    QString AllRowsText() const;
    // The answering address of each selected row that has one, one a line.
    QString SelectedAddressesText() const;

    // The rows' context menu, its commands enabled as the selection allows.
    QMenu* CreateRowMenu(QWidget* parent);

signals:
    // "Save report…" was chosen; the window that shows the list writes the report.
    void saveReportRequested();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    QString RowsText(const std::vector<int>& rows) const;
    std::vector<int> SelectedRows() const;
};
