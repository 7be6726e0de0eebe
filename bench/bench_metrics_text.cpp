// The metrics' exposition text for an agent watching many targets: 50 paths of 30 hops
// (hop 12 balanced over 4 routers, every router named), filled with a simulated day of
// rounds on a fake clock, then MetricsText made again and again as a scrape makes it when a
// round has finished since the last. Prints the milliseconds per making, the text's size and
// a checksum of it, which a change meant to keep the text the same must not change.
//
//     cmake --build build --target bench_metrics_text
//     build/bench/bench_metrics_text [targets=50] [hops=30] [hours=24] [interval_s=10] [makings=20]
#include "metrics_text.h"
#include "simulated_rounds.h"

#include <QHash>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>

#include <arpa/inet.h>

namespace {
NetAddress Router(int target, int ttl, int64_t round)
{
    const int lane = ttl == 12 ? int(round % 4) : 0;
    return NetAddress::FromV4(htonl(0xC6120000u + uint32_t(target << 10) + uint32_t(ttl << 2) + uint32_t(lane)));
}
} // namespace

int main(int argc, char** argv)
{
    const int targets = argc > 1 ? std::atoi(argv[1]) : 50;
    const int hops = argc > 2 ? std::atoi(argv[2]) : 30;
    const double hours = argc > 3 ? std::atof(argv[3]) : 24;
    const double intervalS = argc > 4 ? std::atof(argv[4]) : 10;
    const int makings = argc > 5 ? std::atoi(argv[5]) : 20;
    const auto intervalUs = int64_t(intervalS * 1e6);
    const auto rounds = int64_t(hours * 3600 / intervalS);

    std::mt19937 random(1);
    std::vector<std::unique_ptr<PathStats>> stats;
    std::vector<MetricsTarget> shown;
    const HostNames names = [](const NetAddress& a) {
        return QStringLiteral("router-%1.example.net").arg(QString::fromStdString(a.ToText()));
    };
    for (int t = 0; t < targets; ++t) {
        stats.push_back(std::make_unique<PathStats>(false, HistoryDepth::Minutes));
        PathStats& path = *stats.back();
        // Targets staggered across the interval, as the agent starts them.
        const int64_t offsetUs = intervalUs * t / targets;
        const NetAddress targetAddress = NetAddress::FromV4(htonl(0xC6130000u + uint32_t(t)));
        for (int64_t r = 0; r < rounds; ++r) {
            RecordSimulatedRound(path, r, offsetUs + r * intervalUs, intervalUs, hops, random,
                [&](int ttl) { return ttl == hops ? targetAddress : Router(t, ttl, r); });
        }
        shown.push_back(
            { QStringLiteral("target-%1").arg(t), NetAddress::FromV4(htonl(0xC6130000u + uint32_t(t))), &path, names });
    }
    const int64_t nowUs = rounds * intervalUs;
    for (const MetricsFormat format : { MetricsFormat::Prometheus, MetricsFormat::OpenMetrics }) {
        double best = 1e9;
        double total = 0;
        QByteArray text;
        for (int i = 0; i < makings; ++i) {
            const auto t0 = std::chrono::steady_clock::now();
            text = MetricsText(shown, nowUs, format);
            const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
            best = std::min(best, ms);
            total += ms;
        }
        std::printf("%s: %d targets x %d hops, %lld rounds each: %.2f ms per making (best %.2f), %lld bytes, "
                    "%lld lines, checksum %08x\n",
            format == MetricsFormat::Prometheus ? "text 0.0.4" : "OpenMetrics", targets, hops,
            static_cast<long long>(rounds), total / makings, best, static_cast<long long>(text.size()),
            static_cast<long long>(text.count('\n')), unsigned(qHash(text)));
    }
    return 0;
}
