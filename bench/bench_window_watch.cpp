// The window's share of a watch: a 30-hop path with a simulated day of history (one round a
// second on a fake clock), then per round what the window does on its UI thread: the
// table's refresh (figures, names, Timeline strips) and a repaint of the list, and the hop
// chart switched to 7 days (the tier's timeline and its drawing). Prints the wall time of
// each; the UI thread's share is the per-round total over the one-second interval. Then the
// peak resident set once the history is filled and drawn, beside that of the same history
// filled without widgets (in a child process with only a QCoreApplication, as the terminal
// tracer holds it): the difference is the window's own.
//
//     cmake --build build --target bench_window_watch
//     QT_QPA_PLATFORM=offscreen build/bench/bench_window_watch [hours=24] [hops=30]
#include "path_stats.h"
#include "process_usage.h"
#include "simulated_rounds.h"
#include "timeline_painter.h"
#include "watch_table_delegate.h"
#include "watch_table_model.h"

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QImage>
#include <QPainter>
#include <QTreeView>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <sys/wait.h>
#include <unistd.h>

namespace {

void RecordRound(PathStats& path, int64_t r, int hops, std::mt19937& random)
{
    RecordSimulatedRound(path, r, r * 1000000, 1000000, hops, random,
        [](int ttl) { return NetAddress::FromV4(uint32_t(0xc6120000 + ttl * 16)); });
}

void FillHistory(PathStats& path, int64_t rounds, int hops, std::mt19937& random)
{
    for (int64_t r = 0; r < rounds; ++r)
        RecordRound(path, r, hops, random);
}

// The peak resident set of the same history without widgets, in KiB: filled in a child
// forked before this process makes its QApplication; -1 if it could not be measured.
long PeakRssWithoutWidgetsKb(int argc, char** argv, int64_t rounds, int hops)
{
    int fds[2];
    if (pipe(fds) != 0)
        return -1;
    const pid_t child = fork();
    if (child == 0) {
        close(fds[0]);
        QCoreApplication app(argc, argv);
        std::mt19937 random(1);
        PathStats path(false);
        FillHistory(path, rounds, hops, random);
        const long kb = PeakRssKb();
        _exit(write(fds[1], &kb, sizeof kb) == ssize_t(sizeof kb) ? 0 : 1);
    }
    close(fds[1]);
    long kb = -1;
    if (child < 0 || read(fds[0], &kb, sizeof kb) != ssize_t(sizeof kb))
        kb = -1;
    close(fds[0]);
    if (child > 0)
        waitpid(child, nullptr, 0);
    return kb;
}

} // namespace

int main(int argc, char** argv)
{
    const int hours = argc > 1 ? std::atoi(argv[1]) : 24;
    const int hops = argc > 2 ? std::atoi(argv[2]) : 30;
    const int64_t rounds = int64_t(hours) * 3600;
    const long withoutWidgetsKb = PeakRssWithoutWidgetsKb(argc, argv, rounds, hops);
    QApplication app(argc, argv);
    std::mt19937 random(1);
    PathStats path(false);
    FillHistory(path, rounds, hops, random);

    WatchTableModel model;
    WatchTableDelegate delegate;
    QTreeView view;
    view.setUniformRowHeights(true);
    view.setModel(&model);
    view.setItemDelegateForColumn(WC_LOSS, &delegate);
    view.setItemDelegateForColumn(WC_TIMELINE, &delegate);
    view.resize(1500, 900);
    view.header()->resizeSection(WC_TIMELINE, 180);
    view.show();
    QImage canvas(view.size(), QImage::Format_ARGB32_Premultiplied);

    const int measured = 100;
    QElapsedTimer clock;
    qint64 refreshNs = 0, paintNs = 0, worstNs = 0;
    for (int i = 0; i < measured; ++i) {
        RecordRound(path, rounds + i, hops, random);
        clock.start();
        model.Refresh(path, {}, rounds + i);
        const qint64 refreshed = clock.nsecsElapsed();
        view.render(&canvas);
        const qint64 painted = clock.nsecsElapsed();
        refreshNs += refreshed;
        paintNs += painted - refreshed;
        worstNs = std::max(worstNs, painted);
    }
    clock.start();
    const TimelineSlice week = BucketTimeline(path.history(), hops, hops, 2, (rounds + measured) * 1000000, 672);
    QImage chart(1400, 300, QImage::Format_ARGB32_Premultiplied);
    chart.fill(Qt::white);
    {
        QPainter painter(&chart);
        PaintTimeline(painter, QRectF(chart.rect()), week, view.palette());
    }
    const double weekMs = double(clock.nsecsElapsed()) / 1e6;

    const double perRoundMs = double(refreshNs + paintNs) / measured / 1e6;
    std::printf("history: %d h, %d hops, %lld rounds\n", hours, hops, (long long)rounds);
    std::printf("per round: refresh %.2f ms, repaint %.2f ms, worst round %.2f ms\n",
        double(refreshNs) / measured / 1e6, double(paintNs) / measured / 1e6, double(worstNs) / 1e6);
    std::printf("UI thread busy at one round a second: %.2f %%\n", perRoundMs / 10.0);
    std::printf("chart over 7 days: %.2f ms\n", weekMs);
    const long windowKb = PeakRssKb();
    std::printf("peak RSS: %.1f MB with the table and chart drawn, %.1f MB for the same history without widgets "
                "(the window's own: %.1f MB)\n",
        double(windowKb) / 1024, double(withoutWidgetsKb) / 1024, double(windowKb - withoutWidgetsKb) / 1024);
    return 0;
}
