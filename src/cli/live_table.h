#pragma once
#include "summary_hops.h"
#include "summary_table.h"

#include <QString>

#include <utility>
#include <vector>

// The watch's table on a terminal, redrawn in place once a round: the cursor goes back up
// over the lines drawn last and every line is rewritten and cleared to its end, so the
// screen never goes blank between two rounds (no flicker). Sized to the terminal: as
// wide as it is, and no taller, so that no line scrolls away from the cursor's reach.
class LiveTable {
public:
    explicit LiveTable(int fd)
        : m_fd(fd)
    {
    }
    // Whether a live table can be drawn on `fd`: a terminal that understands cursor
    // movement (not TERM=dumb, which gets the final report instead).
    static bool Usable(int fd);
    void Draw(const std::vector<SummaryHop>& hops);
    // Several targets: each table under its heading, a blank line between two. Lines that
    // do not fit the terminal's height are left off at the bottom.
    struct Section {
        QString heading;
        std::vector<SummaryHop> hops;
    };
    void Draw(const std::vector<Section>& sections);

private:
    void Show(std::vector<TableLine> lines, int height);
    // The terminal's columns and the rows a table may take (one is left for the cursor).
    std::pair<int, int> Size() const;

    int m_fd;
    int m_drawn = 0; // lines on the screen from the last Draw
};
