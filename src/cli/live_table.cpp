#include "live_table.h"

#include "summary_table.h"

#include <QByteArray>

#include <cstdlib>
#include <cstring>
#include <sys/ioctl.h>
#include <unistd.h>

bool LiveTable::Usable(int fd)
{
    const char* term = std::getenv("TERM");
    return isatty(fd) && term != nullptr && *term != '\0' && std::strcmp(term, "dumb") != 0;
}

std::pair<int, int> LiveTable::Size() const
{
    winsize size {};
    const bool sized = ioctl(m_fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0;
    return { sized ? int(size.ws_col) : 80, sized && size.ws_row > 1 ? int(size.ws_row) - 1 : 24 };
}

void LiveTable::Draw(const std::vector<SummaryHop>& hops)
{
    const auto [width, height] = Size();
    Show(SummaryTable(hops, width), height);
}

void LiveTable::Draw(const std::vector<Section>& sections)
{
    const auto [width, height] = Size();
    std::vector<TableLine> lines;
    for (const Section& section : sections) {
        if (!lines.empty())
            lines.push_back({});
        lines.push_back({ section.heading.left(width), {} });
        for (TableLine& line : SummaryTable(section.hops, width))
            lines.push_back(std::move(line));
    }
    Show(std::move(lines), height);
}

void LiveTable::Show(std::vector<TableLine> lines, int height)
{
    if (int(lines.size()) > height)
        lines.resize(size_t(height));
    QByteArray out;
    if (m_drawn > 0)
        out += "\r\x1b[" + QByteArray::number(m_drawn) + 'A'; // back to the first line
    for (const TableLine& line : lines)
        out += WithDimmedSpans(line).toUtf8() + "\x1b[K\n";
    out += "\x1b[J"; // whatever the last table had below this one
    m_drawn = int(lines.size());
    for (qsizetype done = 0; done < out.size();) {
        const ssize_t n = write(m_fd, out.constData() + done, size_t(out.size() - done));
        if (n <= 0)
            break;
        done += n;
    }
}
