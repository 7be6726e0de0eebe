#pragma once
#include "hop_row.h"

#include <QAbstractTableModel>

#include <memory>
#include <vector>

// Column set-up of the results list, in insertion order (column index = sub-item).
struct HopColumn {
    const char* title;
    int width;
    Qt::Alignment alignment;
};
inline constexpr int HOP_COLUMN_COUNT = 5;
// Both tables' rows give, under this role, the address that answered there as text (the
// watch's: the last one), or nothing for a row nobody answered.
inline constexpr int kAnswerAddressRole = Qt::UserRole;
extern const HopColumn kHopColumns[HOP_COLUMN_COUNT];

// The results list: one HopRow per row, owned by the list, and the row operations the
// trace engine writes through. Views read the cells on demand from the records; the
// list keeps no other copy, and a change refreshes only the row it touched.
class HopRowList final : public QAbstractTableModel {
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;

    // Appends a row at index nRow (the engine always inserts in ascending order).
    void InsertHopRow(const char* pszHop, const char* pszAddress, const char* pszTime, const char* pszHost,
        const char* pszResult, int nRow);
    // A null text leaves its cell as it is; an empty one clears it. Does nothing for a
    // row index that does not exist.
    void UpdateHopRow(const char* pszHop, const char* pszAddress, const char* pszTime, const char* pszHost,
        const char* pszResult, int nRow);

    // An answer for the row: address, Time and Result texts and the typed state at once.
    void UpdateHopRow(const HopAnswer& answer, int nRow);

    int GetItemCount() const { return int(m_rows.size()); }
    HopRow* GetItemData(int nRow);
    const HopRow* GetItemData(int nRow) const;
    void DeleteItem(int nRow);
    void DeleteAllItems();

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    std::vector<std::unique_ptr<HopRow>> m_rows;
};
