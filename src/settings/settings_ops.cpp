#include "settings_ops.h"

#include <QtEndian>

#include <algorithm>

namespace hl {
namespace {

static_assert(sizeof(int) == 4, "the column order is stored as 32-bit integers");

// Both binary values are probed with this length, so a value of up to 40 bytes counts as
// present even where the value itself is shorter.
constexpr qsizetype kProbeLength = 40;

QString ProgramKey()
{
    return QString::fromLatin1(kProgramKey);
}

void PutInt32(QByteArray& bytes, int index, std::int32_t value)
{
    qToLittleEndian<std::int32_t>(value, bytes.data() + 4 * index);
}

std::int32_t GetInt32(const QByteArray& bytes, int index)
{
    return qFromLittleEndian<std::int32_t>(bytes.constData() + 4 * index);
}

// buffer holds the default on entry. A value that is absent or longer than the probe is
// replaced by the default, the only write that a load makes; then the value is read into
// buffer: a shorter one overwrites only its leading bytes, and a longer one (which passed
// the probe) is not read at all.
void LoadBinary(RegistryStore& store, const QString& name, QByteArray& buffer)
{
    const std::optional<RegValue> probe = store.QueryValue(ProgramKey(), name);
    if (!probe || probe->data.size() > kProbeLength)
        store.SetValue(ProgramKey(), name, kRegBinary, buffer);
    const std::optional<RegValue> value = store.QueryValue(ProgramKey(), name);
    if (value && value->data.size() <= buffer.size())
        buffer.replace(0, value->data.size(), value->data);
}

QByteArray RectBytes(const WindowRect& rect)
{
    QByteArray bytes(16, Qt::Uninitialized);
    PutInt32(bytes, 0, rect.left);
    PutInt32(bytes, 1, rect.top);
    PutInt32(bytes, 2, rect.right);
    PutInt32(bytes, 3, rect.bottom);
    return bytes;
}

QByteArray OrderBytes(const int (&order)[kColumnOrderEntries])
{
    QByteArray bytes(4 * kColumnOrderEntries, Qt::Uninitialized);
    for (int i = 0; i < kColumnOrderEntries; ++i)
        PutInt32(bytes, i, order[i]);
    return bytes;
}

} // namespace

void LoadOptions(RegistryStore& store, int& nTries, int& nHops, int& nTimeout)
{
    const QString section = QString::fromLatin1(kOptionsSection);
    nTries = store.GetProfileInt(section, QString::fromLatin1(kRetriesEntry), kDefaultTries);
    nHops = store.GetProfileInt(section, QString::fromLatin1(kHopNumberEntry), kDefaultHops);
    nTimeout = store.GetProfileInt(section, QString::fromLatin1(kTimeoutEntry), kDefaultTimeout);
}

bool SaveOptions(RegistryStore& store, int nTries, int nHops, int nTimeout)
{
    const QString section = QString::fromLatin1(kOptionsSection);
    // All three are attempted even when one fails, as three separate writes.
    const bool tries = store.WriteProfileInt(section, QString::fromLatin1(kRetriesEntry), nTries);
    const bool hops = store.WriteProfileInt(section, QString::fromLatin1(kHopNumberEntry), nHops);
    const bool timeout = store.WriteProfileInt(section, QString::fromLatin1(kTimeoutEntry), nTimeout);
    return tries && hops && timeout;
}

void LoadTraceChoices(RegistryStore& store, int& nFamily, bool& bFixedFlow)
{
    const QString section = QString::fromLatin1(kOptionsSection);
    nFamily = store.GetProfileInt(section, QString::fromLatin1(kAddressFamilyEntry), kDefaultAddressFamily);
    if (nFamily != 4 && nFamily != 6)
        nFamily = kDefaultAddressFamily;
    bFixedFlow = store.GetProfileInt(section, QString::fromLatin1(kFixedFlowEntry), kDefaultFixedFlow) != 0;
}

bool SaveTraceChoices(RegistryStore& store, int nFamily, bool bFixedFlow)
{
    const QString section = QString::fromLatin1(kOptionsSection);
    const bool family = store.WriteProfileInt(section, QString::fromLatin1(kAddressFamilyEntry), nFamily);
    const bool flow = store.WriteProfileInt(section, QString::fromLatin1(kFixedFlowEntry), bFixedFlow ? 1 : 0);
    return family && flow;
}

bool LoadWatchChoice(RegistryStore& store)
{
    return store.GetProfileInt(QString::fromLatin1(kOptionsSection), QString::fromLatin1(kWatchEntry), kDefaultWatch)
        != 0;
}

bool SaveWatchChoice(RegistryStore& store, bool bWatch)
{
    return store.WriteProfileInt(
        QString::fromLatin1(kOptionsSection), QString::fromLatin1(kWatchEntry), bWatch ? 1 : 0);
}

int LoadChartHeight(RegistryStore& store)
{
    return std::max(
        0, store.GetProfileInt(QString::fromLatin1(kOptionsSection), QString::fromLatin1(kChartHeightEntry), 0));
}

bool SaveChartHeight(RegistryStore& store, int height)
{
    return store.WriteProfileInt(QString::fromLatin1(kOptionsSection), QString::fromLatin1(kChartHeightEntry), height);
}

void LoadWindowPosition(RegistryStore& store, WindowRect& rect)
{
    QByteArray bytes = RectBytes(rect);
    LoadBinary(store, QString::fromLatin1(kWindowPositionValue), bytes);
    rect = { GetInt32(bytes, 0), GetInt32(bytes, 1), GetInt32(bytes, 2), GetInt32(bytes, 3) };
}

bool SaveWindowPosition(RegistryStore& store, const WindowRect& rect)
{
    return store.SetValue(ProgramKey(), QString::fromLatin1(kWindowPositionValue), kRegBinary, RectBytes(rect));
}

void LoadColumnOrder(RegistryStore& store, int (&order)[kColumnOrderEntries])
{
    QByteArray bytes = OrderBytes(order);
    LoadBinary(store, QString::fromLatin1(kColumnOrderValue), bytes);
    for (int i = 0; i < kColumnOrderEntries; ++i)
        order[i] = GetInt32(bytes, i);
}

bool SaveColumnOrder(RegistryStore& store, const int (&order)[kColumnOrderEntries])
{
    return store.SetValue(ProgramKey(), QString::fromLatin1(kColumnOrderValue), kRegBinary, OrderBytes(order));
}

std::vector<WatchColumn> LoadWatchColumns(RegistryStore& store)
{
    const std::optional<RegValue> value = store.QueryValue(ProgramKey(), QString::fromLatin1(kWatchColumnsValue));
    if (!value || value->type != kRegBinary || value->data.isEmpty() || value->data.size() % 12 != 0)
        return {};
    const int count = int(value->data.size() / 12);
    std::vector<WatchColumn> columns;
    std::vector<bool> placed(size_t(count), false);
    for (int i = 0; i < count; ++i) {
        const WatchColumn c { GetInt32(value->data, 3 * i), GetInt32(value->data, 3 * i + 1),
            GetInt32(value->data, 3 * i + 2) != 0 };
        if (c.place < 0 || c.place >= count || placed[size_t(c.place)] || c.width < 0 || c.width > 10000)
            return {};
        placed[size_t(c.place)] = true;
        columns.push_back(c);
    }
    return columns;
}

bool SaveWatchColumns(RegistryStore& store, const std::vector<WatchColumn>& columns)
{
    QByteArray bytes(qsizetype(12 * columns.size()), Qt::Uninitialized);
    for (size_t i = 0; i < columns.size(); ++i) {
        PutInt32(bytes, 3 * int(i), columns[i].place);
        PutInt32(bytes, 3 * int(i) + 1, columns[i].width);
        PutInt32(bytes, 3 * int(i) + 2, columns[i].hidden ? 1 : 0);
    }
    return store.SetValue(ProgramKey(), QString::fromLatin1(kWatchColumnsValue), kRegBinary, bytes);
}

bool IsColumnPermutation(const int (&order)[kColumnOrderEntries])
{
    bool seen[kColumnCount] = {};
    for (int i = 0; i < kColumnCount; ++i) {
        if (order[i] < 0 || order[i] >= kColumnCount || seen[order[i]])
            return false;
        seen[order[i]] = true;
    }
    return true;
}

} // namespace hl
