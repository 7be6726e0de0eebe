#include "progress_line.h"

#include <string>
#include <unistd.h>

HopCount CountHops(const HopRowList& rows)
{
    // The hops are those up to the first row the target answered: its answers to higher
    // hop limits are no further hops.
    HopCount count { 0, rows.GetItemCount() };
    for (int i = 0; i < count.hops; ++i) {
        count.answered += rows.GetItemData(i)->answered() ? 1 : 0;
        if (rows.GetItemData(i)->bReachedTarget)
            count.hops = i + 1;
    }
    return count;
}

ProgressLine::ProgressLine(TraceEngine& engine, int fd)
    : m_engine(engine)
    , m_fd(fd)
{
    connect(&engine, &TraceEngine::statusChanged, this, &ProgressLine::Show);
    connect(&engine.list(), &QAbstractItemModel::dataChanged, this, &ProgressLine::Show);
}

ProgressLine::~ProgressLine()
{
    Clear();
}

void ProgressLine::Show()
{
    const auto [answered, hops] = CountHops(m_engine.list());
    std::string line = "\r\033[K" + m_engine.status().toStdString() + " " + std::to_string(answered) + "/"
        + std::to_string(hops) + " hops answered";
    if (!m_engine.target().isEmpty())
        line += ", target " + m_engine.target().toStdString();
    m_shown = write(m_fd, line.data(), line.size()) > 0 || m_shown;
}

void ProgressLine::Clear()
{
    if (m_shown) {
        static const char kClear[] = "\r\033[K";
        m_shown = write(m_fd, kClear, sizeof kClear - 1) < 0;
    }
}
