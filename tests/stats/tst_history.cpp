// The history: histogram bins at their edges, percentiles estimated from a bucket, the raw
// ring across its wrap, tiers whose merged buckets equal direct aggregation, and how a
// timeline splits a hop's loss into what carries on and what the router declined; a
// history of minutes that keeps what the terminal and the agent read, in bounded memory.
#include "history.h"
#include "recent_loss.h"
#include "timeline.h"

#include <QtTest>

#include <cmath>
#include <random>

namespace {
ProbeOutcome Outcome(int64_t round, ProbeStatus status, double rttUs = 0, int64_t sentUs = 0)
{
    ProbeOutcome o;
    o.round = round;
    o.ttl = 1;
    o.status = status;
    o.rttUs = rttUs;
    o.sentUs = sentUs;
    return o;
}

bool Close(double a, double b, double relative)
{
    return std::abs(a - b) <= relative * std::max(1.0, std::abs(b));
}
} // namespace

class TestHistory : public QObject {
    Q_OBJECT
private slots:
    void binEdges_data()
    {
        QTest::addColumn<double>("rttUs");
        QTest::addColumn<int>("bin");
        // Edges at 50 µs * 2^(i/3): 62.996 µs, 79.37 µs, 100 µs, ..., 3,276,800 µs (bin 48).
        QTest::newRow("below the first edge") << 49.9 << 0;
        QTest::newRow("just below 50 * 2^(1/3)") << 62.996 << 0;
        QTest::newRow("just above 50 * 2^(1/3)") << 62.9961 << 1;
        QTest::newRow("100 µs, on an edge") << 100.0 << 3;
        QTest::newRow("just below 100 µs") << std::nextafter(100.0, 0.0) << 2;
        QTest::newRow("just below the overflow") << 3276799.9 << 47;
        QTest::newRow("the overflow edge") << 3276800.0 << kRttOverflowBin;
    }

    void binEdges()
    {
        QFETCH(double, rttUs);
        QFETCH(int, bin);
        QCOMPARE(RttBinOf(rttUs), bin);
    }

    void bandsFromHistogram_data()
    {
        QTest::addColumn<QList<double>>("rttsUs"); // repeated to 1,000 answers
        QTest::addColumn<double>("slack"); // factor the estimate may be off by: 2^(1/3) is one bin
        QTest::newRow("all alike: the answer itself") << QList<double> { 20000 } << 1.0;
        QTest::newRow("all below the first edge") << QList<double> { 20 } << 1.0;
        QTest::newRow("all in the overflow bin") << QList<double> { 5e6, 6e6 } << 1.2;
        QTest::newRow("two clusters") << QList<double> { 1000, 1100, 90000, 100000 } << std::cbrt(2.0);
        QList<double> spread;
        for (int i = 1; i <= 97; ++i)
            spread << 300.0 * i;
        QTest::newRow("an even spread, 0.3 to 29 ms: within a bin, as spread") << spread << 1.06;
    }

    void bandsFromHistogram()
    {
        QFETCH(QList<double>, rttsUs);
        QFETCH(double, slack);
        HistoryBucket bucket;
        std::vector<double> all;
        for (int i = 0; i < 1000; ++i) {
            all.push_back(rttsUs[i % rttsUs.size()]);
            bucket.AddAnswer(all.back());
        }
        std::sort(all.begin(), all.end());
        const RttBands b = BandsOf(bucket);
        const QList<double> estimates { b.p10Us, b.p25Us, b.medianUs, b.p75Us, b.p90Us };
        const QList<double> fractions { 0.10, 0.25, 0.50, 0.75, 0.90 };
        for (int i = 0; i < fractions.size(); ++i) {
            const double exact = all[size_t(fractions[i] * 1000) - 1];
            QVERIFY2(estimates[i] <= exact * slack * (1 + 1e-6) && estimates[i] >= exact / slack * (1 - 1e-6),
                qPrintable(QString("p%1: %2, exact %3").arg(fractions[i] * 100).arg(estimates[i]).arg(exact)));
            QVERIFY(estimates[i] >= all.front() && estimates[i] <= all.back());
        }
    }

    void rawRing_data()
    {
        QTest::addColumn<int>("rounds"); // 0..rounds-1 answered, rtt = round
        QTest::addColumn<int>("gapFrom"); // rounds not probed, [gapFrom, gapTo)
        QTest::addColumn<int>("gapTo");
        QTest::addColumn<int>("lateRound"); // then a late answer (or, before the ring, any outcome)
        QTest::addColumn<int>("askedRound");
        QTest::addColumn<int>("status"); // ProbeStatus
        QTest::addColumn<double>("rttUs");
        const int answered = int(ProbeStatus::Answered);
        const int notProbed = int(ProbeStatus::NotProbed);
        QTest::newRow("full, not wrapped") << 3600 << 0 << 0 << -1 << 0 << answered << 0.0;
        QTest::newRow("wrapped: the oldest held") << 3601 << 0 << 0 << -1 << 1 << answered << 1.0;
        QTest::newRow("wrapped: the one before gone") << 3601 << 0 << 0 << -1 << 0 << notProbed << qQNaN();
        QTest::newRow("not yet") << 100 << 0 << 0 << -1 << 100 << notProbed << qQNaN();
        QTest::newRow("skipped rounds do not show the slot's old round")
            << 5000 << 4000 << 4100 << -1 << 4050 << notProbed << qQNaN();
        QTest::newRow("a late answer marks its round") << 100 << 0 << 0 << 50 << 50 << int(ProbeStatus::Late) << 777.0;
        // A hop count first probed at round 700 (the ring grows from its first round).
        QTest::newRow("first probed later: before it") << 1000 << 0 << 700 << -1 << 699 << notProbed << qQNaN();
        QTest::newRow("first probed later: the newest") << 1000 << 0 << 700 << -1 << 999 << answered << 999.0;
        QTest::newRow("first probed later, wrapped: the oldest held")
            << 5000 << 0 << 700 << -1 << 1400 << answered << 1400.0;
        QTest::newRow("first probed later, wrapped: the one before gone")
            << 5000 << 0 << 700 << -1 << 1399 << notProbed << qQNaN();
        QTest::newRow("an outcome older than the ring overwrites nothing")
            << 5000 << 0 << 0 << 1399 << 4999 << answered << 4999.0;
    }

    void rawRing()
    {
        QFETCH(int, rounds);
        QFETCH(int, gapFrom);
        QFETCH(int, gapTo);
        QFETCH(int, lateRound);
        QFETCH(int, askedRound);
        QFETCH(int, status);
        QFETCH(double, rttUs);
        HopHistory hop;
        for (int r = 0; r < rounds; ++r) {
            if (r >= gapFrom && r < gapTo)
                continue;
            hop.Record(Outcome(r, ProbeStatus::InFlight, 0, r * 1000000LL), 0);
            hop.Record(Outcome(r, ProbeStatus::Answered, r, r * 1000000LL), 0);
        }
        if (lateRound >= 0) {
            hop.Record(Outcome(lateRound, ProbeStatus::Lost, 0, lateRound * 1000000LL), 0);
            hop.Record(Outcome(lateRound, ProbeStatus::Late, 777, lateRound * 1000000LL), 0);
        }
        const RawSample s = hop.raw().At(askedRound);
        QCOMPARE(int(s.status), status);
        if (std::isnan(rttUs))
            QVERIFY(std::isnan(s.rttUs));
        else
            QCOMPARE(double(s.rttUs), rttUs);
    }

    void tiersMergeToDirect_data()
    {
        QTest::addColumn<double>("offsetUs");
        QTest::addColumn<double>("spreadUs"); // lognormal sigma times the offset, roughly
        QTest::addColumn<double>("lossPct");
        QTest::addColumn<int>("hours");
        QTest::newRow("1 s with microseconds of noise, 10 % lost") << 1e6 << 1e-5 << 10.0 << 1;
        QTest::newRow("every bin, 4 h: the 10 s tier wraps") << 2000.0 << 2.0 << 3.0 << 4;
    }

    // One probe a second; each tier's buckets against the next tier's, merged, and against the
    // answers of their period summed directly.
    void tiersMergeToDirect()
    {
        QFETCH(double, offsetUs);
        QFETCH(double, spreadUs);
        QFETCH(double, lossPct);
        QFETCH(int, hours);
        std::mt19937 random(11);
        std::lognormal_distribution<double> rtt(std::log(offsetUs), spreadUs);
        std::uniform_real_distribution<double> percent(0, 100);
        HopHistory hop;
        std::vector<std::vector<double>> answersOfMinute(size_t(hours * 60));
        for (int64_t r = 0; r < hours * 3600; ++r) {
            const int64_t sentUs = r * 1000000;
            hop.Record(Outcome(r, ProbeStatus::InFlight, 0, sentUs), 0);
            if (percent(random) < lossPct) {
                hop.Record(Outcome(r, ProbeStatus::Lost, 0, sentUs), 0);
                continue;
            }
            const double x = rtt(random);
            hop.Record(Outcome(r, ProbeStatus::Answered, x, sentUs), 0);
            answersOfMinute[size_t(r / 60)].push_back(x);
        }
        if (hours > 3)
            QVERIFY(!hop.tier(0).Find(0) && hop.tier(0).Find(hop.tier(0).newestPeriod() - 1079));
        for (size_t level = 0; level + 1 < kHistoryTiers.size(); ++level) {
            const HistoryTier& lower = hop.tier(level);
            const HistoryTier& upper = hop.tier(level + 1);
            const int64_t ratio = upper.shape().widthUs / lower.shape().widthUs;
            int compared = 0;
            for (int64_t p = 0; p <= upper.newestPeriod(); ++p) {
                HistoryBucket merged;
                bool whole = true;
                for (int64_t q = p * ratio; q < (p + 1) * ratio; ++q) {
                    const HistoryBucket* b = lower.Find(q);
                    whole = whole && b;
                    if (b)
                        merged.Merge(*b);
                }
                const HistoryBucket* direct = upper.Find(p);
                if (!whole || !direct)
                    continue;
                ++compared;
                QCOMPARE(merged.sent, direct->sent);
                QCOMPARE(merged.received, direct->received);
                QCOMPARE(merged.lost, direct->lost);
                QVERIFY(merged.bins == direct->bins);
                QCOMPARE(merged.minUs, direct->minUs);
                QCOMPARE(merged.maxUs, direct->maxUs);
                QVERIFY(Close(merged.sumUs, direct->sumUs, 1e-12));
                QVERIFY2(Close(merged.m2, direct->m2, 1e-9), qPrintable(QString::number(merged.m2 / direct->m2 - 1)));
            }
            QVERIFY(compared > 0);
        }
        // A minute's bucket against its answers summed directly, m2 by two passes.
        const int64_t minute = hours * 60 - 1;
        const std::vector<double>& x = answersOfMinute[size_t(minute)];
        const HistoryBucket* b = hop.tier(1).Find(minute);
        QVERIFY(b);
        double sum = 0;
        for (double v : x)
            sum += v;
        double m2 = 0;
        for (double v : x)
            m2 += (v - sum / double(x.size())) * (v - sum / double(x.size()));
        QCOMPARE(int(b->received), int(x.size()));
        QCOMPARE(int(b->sent), 60);
        QVERIFY(Close(b->sumUs, sum, 1e-12));
        QVERIFY2(Close(b->m2, m2, 1e-6), qPrintable(QString::number(b->m2 / m2 - 1)));
        QCOMPARE(double(b->minUs), double(float(*std::min_element(x.begin(), x.end()))));
    }

    void minutesKeepWhatIsRead_data()
    {
        QTest::addColumn<int>("intervalMs");
        QTest::addColumn<int>("hours");
        QTest::addColumn<int>("decidedAfter"); // rounds between a probe's send and its fate
        QTest::newRow("1 s, decided in the next round") << 1000 << 5 << 1;
        QTest::newRow("0.2 s, decided 15 rounds later") << 200 << 2 << 15;
        // The longest wait the watch allows, kMaxRoundsInFlight rounds: fates come 10 minutes
        // late, past the short tier's reach, and only counts of older periods may differ.
        QTest::newRow("10 s, decided 60 rounds later") << 10000 << 30 << 60;
    }

    // The same outcomes into a week's history and a history of minutes: every round's raw
    // samples as its round is finished (what a round line reads), and the recent loss as a
    // scrape reads it, are the same; the short one's rings stay at their size.
    void minutesKeepWhatIsRead()
    {
        QFETCH(int, intervalMs);
        QFETCH(int, hours);
        QFETCH(int, decidedAfter);
        const int hops = 4;
        const int64_t intervalUs = intervalMs * 1000LL;
        const int64_t rounds = hours * 3600'000LL / intervalMs;
        std::mt19937 random(7);
        std::uniform_real_distribution<double> percent(0, 100);
        History week(HistoryDepth::Week);
        History minutes(HistoryDepth::Minutes);
        const auto record = [&](const ProbeOutcome& o, AddressId address) {
            week.Record(o, address);
            minutes.Record(o, address);
        };
        int compared = 0;
        for (int64_t r = 0; r < rounds + decidedAfter; ++r) {
            for (int ttl = 1; ttl <= hops && r < rounds; ++ttl) {
                ProbeOutcome o = Outcome(r, ProbeStatus::InFlight, 0, r * intervalUs);
                o.ttl = ttl;
                record(o, kNoAddress);
            }
            const int64_t decided = r - decidedAfter;
            if (decided < 0)
                continue;
            for (int ttl = 1; ttl <= hops; ++ttl) {
                // Hop 2 declines a third of its answers; from hop 3 on, 5 % is lost on the way.
                const bool lost = (ttl == 2 && percent(random) < 33) || (ttl >= 3 && percent(random) < 5);
                ProbeOutcome o = Outcome(decided, lost ? ProbeStatus::Lost : ProbeStatus::Answered,
                    1000.0 * ttl + percent(random), decided * intervalUs);
                o.ttl = ttl;
                record(o, lost ? kNoAddress : AddressId(ttl));
                if (lost && percent(random) < 20) { // and answered after its deadline after all
                    o.status = ProbeStatus::Late;
                    record(o, AddressId(ttl));
                }
                const RawSample a = week.Hop(ttl)->raw().At(decided);
                const RawSample b = minutes.Hop(ttl)->raw().At(decided);
                QCOMPARE(int(b.status), int(a.status));
                QCOMPARE(b.address, a.address);
                QVERIFY(std::isnan(a.rttUs) ? std::isnan(b.rttUs) : b.rttUs == a.rttUs);
            }
            if (r % 37 != 0)
                continue;
            const int64_t nowUs = r * intervalUs + intervalUs / 2;
            const std::vector<LossCounts> a = RecentCounts(week, nowUs);
            const std::vector<LossCounts> b = RecentCounts(minutes, nowUs);
            for (size_t i = 0; i < a.size(); ++i) {
                QCOMPARE(b[i].sent, a[i].sent);
                QCOMPARE(b[i].received, a[i].received);
                QCOMPARE(b[i].lost, a[i].lost);
            }
            const std::vector<ForwardLoss> fa = RecentForwardLosses(week, hops, nowUs);
            const std::vector<ForwardLoss> fb = RecentForwardLosses(minutes, hops, nowUs);
            for (size_t i = 0; i < fa.size(); ++i)
                QCOMPARE(fb[i].forwardPct, fa[i].forwardPct);
            ++compared;
        }
        QVERIFY(compared > 100);
        const size_t bound = kRecentRawRounds * sizeof(RawSample) + sizeof(HistoryTier)
            + size_t(kRecentTiers[0].buckets) * (sizeof(HistoryBucket) + sizeof(int32_t));
        for (int ttl = 1; ttl <= hops; ++ttl) {
            QVERIFY2(
                minutes.Hop(ttl)->HeapBytes() <= bound, qPrintable(QString::number(minutes.Hop(ttl)->HeapBytes())));
            QVERIFY(week.Hop(ttl)->HeapBytes() > 20 * bound);
        }
    }

    // Three hop counts, the last the target, over rounds 0-3 (the first 10 s period) and
    // 10-13 (the second). Lost: hop 1 rounds 0, 1, 10, 11; hop 2 round 1; hop 3 rounds 1
    // and 12. A period's split follows the forward loss over that period (the least loss
    // of the hop and every hop behind it); the rounds' strip gives the strong marks to the
    // rounds that most hops behind also lost.
    void timelineLossSplit_data()
    {
        QTest::addColumn<bool>("buckets"); // else the rounds' strip
        QTest::addColumn<int>("ttl");
        QTest::addColumn<int>("at"); // the period, or the round
        QTest::addColumn<int>("lost");
        QTest::addColumn<int>("forwardLost");
        QTest::newRow("period: a quarter carries on") << true << 1 << 0 << 2 << 1;
        QTest::newRow("period: declined, the next hop lost nothing") << true << 1 << 1 << 2 << 0;
        QTest::newRow("period: the second hop's") << true << 2 << 0 << 1 << 1;
        QTest::newRow("period: the target's all carries on") << true << 3 << 1 << 1 << 1;
        QTest::newRow("round lost behind too: strong") << false << 1 << 1 << 1 << 1;
        QTest::newRow("newer round lost here alone: muted") << false << 1 << 11 << 1 << 0;
        QTest::newRow("round lost at the target") << false << 3 << 12 << 1 << 1;
    }
    void timelineLossSplit()
    {
        QFETCH(bool, buckets);
        QFETCH(int, ttl);
        QFETCH(int, at);
        QFETCH(int, lost);
        QFETCH(int, forwardLost);
        const std::vector<std::pair<int, int>> losses { { 1, 0 }, { 1, 1 }, { 1, 10 }, { 1, 11 }, { 2, 1 }, { 3, 1 },
            { 3, 12 } };
        History history;
        for (const int round : { 0, 1, 2, 3, 10, 11, 12, 13 }) {
            for (int hop = 1; hop <= 3; ++hop) {
                const bool isLost = std::count(losses.begin(), losses.end(), std::pair { hop, round }) > 0;
                ProbeOutcome o = Outcome(
                    round, isLost ? ProbeStatus::Lost : ProbeStatus::Answered, 1000.0 * hop, int64_t(round) * 1000000);
                o.ttl = hop;
                history.Record(o, isLost ? kNoAddress : AddressId(hop));
            }
        }
        TimelinePoint p;
        if (buckets) {
            const TimelineSlice slice = BucketTimeline(history, ttl, 3, 0, 13000000, 2);
            QCOMPARE(slice.points.size(), size_t(2));
            p = slice.points[size_t(at)];
            QCOMPARE(p.decided, 4);
        } else {
            const std::vector<TimelineSlice> slices = RecentRoundTimelines(history, 3, 13, 14);
            p = slices[size_t(ttl - 1)].points[size_t(at)];
            QCOMPARE(p.round, int64_t(at));
        }
        QCOMPARE(p.lost, lost);
        QCOMPARE(p.forwardLost, forwardLost);
    }
};

QTEST_APPLESS_MAIN(TestHistory)
#include "tst_history.moc"
