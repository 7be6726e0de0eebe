#include "hop_row_list.h"

const HopColumn kHopColumns[HOP_COLUMN_COUNT] = {
    { "Hop", 32, Qt::AlignLeft },
    { "IP address", 95, Qt::AlignRight },
    { "Time", 65, Qt::AlignRight },
    { "Host name", 245, Qt::AlignRight },
    { "Result", 163, Qt::AlignLeft },
};

const std::string& HopRow::text(int column) const
{
    static const std::string none;
    switch (column) {
    case 0: return pszHop;
    case 1: return pszAddress;
    case 2: return pszTime;
    case 3: return pszHost;
    case 4: return pszResult;
    default: return none;
    }
}

void HopRowList::InsertHopRow(const char* pszHop, const char* pszAddress, const char* pszTime, const char* pszHost,
    const char* pszResult, int nRow)
{
    const int at = nRow < 0 ? 0 : nRow > GetItemCount() ? GetItemCount() : nRow;
    auto row = std::make_unique<HopRow>();
    row->pszHop = pszHop;
    row->pszAddress = pszAddress;
    row->pszTime = pszTime;
    row->pszHost = pszHost;
    row->pszResult = pszResult;
    beginInsertRows({}, at, at);
    m_rows.insert(m_rows.begin() + at, std::move(row));
    endInsertRows();
}

void HopRowList::UpdateHopRow(const char* pszHop, const char* pszAddress, const char* pszTime, const char* pszHost,
    const char* pszResult, int nRow)
{
    HopRow* row = GetItemData(nRow);
    if (!row)
        return;
    auto set = [](std::string& field, const char* text) {
        if (text)
            field = text;
    };
    set(row->pszHop, pszHop);
    set(row->pszAddress, pszAddress);
    if (pszTime) {
        row->pszTime = pszTime;
        row->bAnswered = !row->pszTime.empty();
    }
    set(row->pszHost, pszHost);
    set(row->pszResult, pszResult);
    emit dataChanged(index(nRow, 0), index(nRow, HOP_COLUMN_COUNT - 1), { Qt::DisplayRole });
}

void HopRowList::UpdateHopRow(const HopAnswer& answer, int nRow)
{
    HopRow* row = GetItemData(nRow);
    if (!row)
        return;
    row->address = answer.address;
    row->bReachedTarget = answer.reachedTarget;
    row->bEndsPath = answer.endsPath;
    row->nRttUs = answer.rttUs;
    row->pszAddress = answer.address.ToText();
    row->pszResult = answer.result;
    // Timed from the probe it answers, which need not be the row's latest. Unsigned
    // subtraction survives the tick counter's wrap; read as signed, an answer "before"
    // its probe shows as a negative time instead of ~49 days.
    row->nTimeMs = int32_t(answer.arrivalTick - answer.sendTick);
    row->pszTime = std::to_string(row->nTimeMs);
    row->bAnswered = true;
    emit dataChanged(index(nRow, 0), index(nRow, HOP_COLUMN_COUNT - 1), { Qt::DisplayRole });
}

HopRow* HopRowList::GetItemData(int nRow)
{
    return nRow >= 0 && nRow < GetItemCount() ? m_rows[size_t(nRow)].get() : nullptr;
}

const HopRow* HopRowList::GetItemData(int nRow) const
{
    return nRow >= 0 && nRow < GetItemCount() ? m_rows[size_t(nRow)].get() : nullptr;
}

void HopRowList::DeleteItem(int nRow)
{
    if (nRow < 0 || nRow >= GetItemCount())
        return;
    beginRemoveRows({}, nRow, nRow);
    m_rows.erase(m_rows.begin() + nRow);
    endRemoveRows();
}

void HopRowList::DeleteAllItems()
{
    if (m_rows.empty())
        return;
    beginResetModel();
    m_rows.clear();
    endResetModel();
}

int HopRowList::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : GetItemCount();
}

int HopRowList::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : HOP_COLUMN_COUNT;
}

QVariant HopRowList::data(const QModelIndex& index, int role) const
{
    const HopRow* row = GetItemData(index.row());
    if (!row || index.column() < 0 || index.column() >= HOP_COLUMN_COUNT)
        return {};
    switch (role) {
    case Qt::DisplayRole: return QString::fromUtf8(row->text(index.column()));
    case Qt::TextAlignmentRole: return QVariant::fromValue(kHopColumns[index.column()].alignment | Qt::AlignVCenter);
    case kAnswerAddressRole: return row->answered() ? QString::fromStdString(row->pszAddress) : QVariant();
    default: return {};
    }
}

QVariant HopRowList::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= HOP_COLUMN_COUNT)
        return {};
    switch (role) {
    case Qt::DisplayRole: return QString::fromLatin1(kHopColumns[section].title);
    case Qt::TextAlignmentRole: return QVariant::fromValue(kHopColumns[section].alignment | Qt::AlignVCenter);
    default: return {};
    }
}
