#include "progress_line.h"

#include <string>
#include <unistd.h>

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
    const HopRowList& rows = m_engine.list();
    int answered = 0;
    for (int i = 0; i < rows.GetItemCount(); ++i)
        answered += rows.GetItemData(i)->answered() ? 1 : 0;
    std::string line = "\r\033[K" + m_engine.status().toStdString() + " " + std::to_string(answered) + "/"
        + std::to_string(rows.GetItemCount()) + " hops answered";
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
