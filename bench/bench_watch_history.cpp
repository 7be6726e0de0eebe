// A simulated day of watching: one round a second on a fake clock over a 30-hop path, every
// outcome through PathStats as the watch loop gives it (in flight, then answered or lost),
// the live table's snapshot taken once a round. Prints the CPU time per round and the growth
// of the resident set, which must stay bounded (the rings and tiers are fixed in size), and
// the bytes the history's rings hold per hop count at the end. `minutes` keeps the short
// history the terminal and the agent use, `week` (the default) the window's.
//
//     cmake --build build --target bench_watch_history
//     build/bench/bench_watch_history [hours=24] [hops=30] [week|minutes]
#include "path_stats.h"
#include "process_usage.h"
#include "simulated_rounds.h"

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

int main(int argc, char** argv)
{
    const int hours = argc > 1 ? std::atoi(argv[1]) : 24;
    const int hops = argc > 2 ? std::atoi(argv[2]) : 30;
    const bool minutes = argc > 3 && std::string(argv[3]) == "minutes";
    const int64_t rounds = int64_t(hours) * 3600;
    std::mt19937 random(1);

    const long rssBeforeKb = RssKb();
    PathStats path(false, minutes ? HistoryDepth::Minutes : HistoryDepth::Week);
    double recordCpu = 0;
    double snapshotCpu = 0;
    long rssAfterHourKb = 0;
    int64_t answered = 0;
    for (int64_t r = 0; r < rounds; ++r) {
        const double t0 = CpuSeconds();
        // Hop 12 is balanced over 4 addresses.
        answered += RecordSimulatedRound(path, r, r * 1000000, 1000000, hops, random,
            [r](int ttl) { return NetAddress::FromV4(uint32_t(0xc6120000 + ttl * 16 + (ttl == 12 ? r % 4 : 0))); });
        const double t1 = CpuSeconds();
        const PathFigures figures = path.Figures();
        snapshotCpu += CpuSeconds() - t1;
        recordCpu += t1 - t0;
        if (figures.hops.size() != size_t(hops))
            return 1;
        if (r == 3599)
            rssAfterHourKb = RssKb();
    }
    const long rssAfterKb = RssKb();
    std::printf("simulated %d h at one round a second over %d hops: %lld rounds, %lld answers\n", hours, hops,
        static_cast<long long>(rounds), static_cast<long long>(answered));
    std::printf("CPU per round: %.1f µs recording (%.2f µs per probe), %.1f µs for the table's snapshot\n",
        recordCpu / double(rounds) * 1e6, recordCpu / double(rounds * hops) * 1e6, snapshotCpu / double(rounds) * 1e6);
    std::printf("RSS: %ld kB before, +%ld kB after 1 h, +%ld kB after %d h (%.1f MB)\n", rssBeforeKb,
        rssAfterHourKb - rssBeforeKb, rssAfterKb - rssBeforeKb, hours, double(rssAfterKb - rssBeforeKb) / 1024);
    size_t historyBytes = 0;
    for (int ttl = 1; ttl <= hops; ++ttl)
        historyBytes += path.history().Hop(ttl)->HeapBytes();
    std::printf("history (%s): %.1f kB per hop count, %.2f MB for %d hops\n", minutes ? "minutes" : "week",
        double(historyBytes) / hops / 1000, double(historyBytes) / 1e6, hops);
    std::printf("route changes: %zu\n", path.routeChanges().changes().size());
    return 0;
}
