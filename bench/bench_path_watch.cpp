// A simulated day of the watch loop itself: PathWatch on the fake platform (fake clock,
// probe socket and ICMP socket), one round a second over a 30-hop path, every probe
// answered through a crafted ICMP datagram parsed as the raw socket would. Prints the CPU
// time per round (sending, matching, deciding, the statistics) and the growth of the
// resident set after the first hour, which must stay bounded.
//
//     cmake --build build --target bench_path_watch
//     build/bench/bench_path_watch [hours=24] [hops=30]
#include "fake_platform.h"
#include "path_watch.h"
#include "process_usage.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int hours = argc > 1 ? std::atoi(argv[1]) : 24;
    const int hops = argc > 2 ? std::atoi(argv[2]) : 30;
    const uint32_t target = htonl(0xC6120000u | uint32_t(hops) << 8 | 2);

    FakePlatform fake;
    FakeClock& clock = *fake.clock;
    FakeProbeSocket& probe = *fake.probe;
    FakeIcmpSocket& icmp = *fake.icmp;
    PathStats stats(false);
    PathWatch watch(std::move(fake.platform), stats);
    WatchParameters params;
    params.target = NetAddress::FromV4(target);
    params.maxHops = hops;
    params.lookups = false;
    clock.now = 1000;
    const double cpuStart = CpuSeconds();
    watch.Start(params);
    long rssAfterHourKb = 0;
    const int64_t rounds = int64_t(hours) * 3600;
    for (int64_t r = 0; r < rounds; ++r) {
        // Every probe of the round answered 1 ms after it left: routers, then the target.
        for (const SentProbe& p : probe.sent) {
            CraftedIcmp d;
            const bool last = p.ttl == hops;
            d.type = last ? 3 : 11;
            d.code = last ? 3 : 0;
            d.quotedDestination = target;
            d.quotedPort = p.port;
            d.quotedSourcePort = FakeProbeSocket::PortOf(p.socket);
            const uint32_t from = last ? target : htonl(0xC6120002u | uint32_t(p.ttl) << 8);
            icmp.queue.push_back({ d.bytes(), from, true, p.tick + 1 });
        }
        probe.sent.clear(); // the fake's record, not the watch's memory
        clock.now += 1000;
        watch.OnTimer(IDT_WATCH);
        if (r == 3600)
            rssAfterHourKb = RssKb();
    }
    const double cpu = CpuSeconds() - cpuStart;
    const long rssEndKb = RssKb();
    std::printf("%lld rounds, %d hops: %.1f us CPU per round; RSS %ld kB after 1 h, %ld kB at the end (%+ld kB)\n",
        static_cast<long long>(rounds), hops, cpu / double(rounds) * 1e6, rssAfterHourKb, rssEndKb,
        rssEndKb - rssAfterHourKb);
    const LossCounts& c = stats.Hop(hops)->counts();
    std::printf("target: sent %lld, received %lld, lost %lld\n", static_cast<long long>(c.sent),
        static_cast<long long>(c.received), static_cast<long long>(c.lost));
    return 0;
}
