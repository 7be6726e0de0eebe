// Figures over the whole path: forward loss from hand-made counts (a lossy link, a router
// declining to answer), and route changes told apart from load balancing.
#include "forward_loss.h"
#include "path_stats.h"
#include "route_changes.h"

#include <QtTest>

#include <functional>
#include <random>

Q_DECLARE_METATYPE(std::vector<RoundPath>)

namespace {
// Loss per hop as "10 50 - 20": percent of 100 decided probes, "-" for none decided.
std::vector<LossCounts> Counts(const QString& losses)
{
    std::vector<LossCounts> hops;
    for (const QString& l : losses.split(' ')) {
        LossCounts c;
        c.sent = c.inFlight = 100;
        if (l != "-") {
            c.inFlight = 0;
            c.lost = l.toInt();
            c.received = 100 - c.lost;
        }
        hops.push_back(c);
    }
    return hops;
}

QString Text(const std::vector<ForwardLoss>& f, std::optional<double> ForwardLoss::*member)
{
    QStringList out;
    for (const ForwardLoss& h : f)
        out << ((h.*member) ? QString::number(*(h.*member)) : "-");
    return out.join(' ');
}

// count rounds from `first`, 10 ms apart, hop count i + 1 answered by hops(round)[i].
std::vector<RoundPath> Rounds(int64_t first, int count, int targetTtl,
    const std::function<std::vector<AddressId>(int64_t round)>& hops, std::vector<RoundPath> before = {})
{
    for (int64_t r = first; r < first + count; ++r)
        before.push_back(RoundPath { r, r * 10000, hops(r), targetTtl });
    return before;
}

QString Text(const RouteChange& c)
{
    QStringList parts { QString::number(c.round) };
    for (const HopChange& h : c.hops)
        parts << QString("%1:%2>%3").arg(h.ttl).arg(h.oldAddress).arg(h.newAddress);
    if (c.newTargetTtl)
        parts << QString("t%1>%2").arg(c.oldTargetTtl).arg(c.newTargetTtl);
    return parts.join(' ');
}
} // namespace

class TestPathFigures : public QObject {
    Q_OBJECT
private slots:
    void forwardLossOfCounts_data()
    {
        QTest::addColumn<QString>("losses");
        QTest::addColumn<int>("targetTtl");
        QTest::addColumn<QString>("forward");
        QTest::addColumn<QString>("declined");
        QTest::newRow("the least loss of this hop and every later one") << "10 50 20 30" << 4 << "10 20 20 30"
                                                                        << "0 30 0 0";
        QTest::newRow("a hop without figures is passed over") << "10 - 40 20" << 4 << "10 - 20 20"
                                                              << "0 - 20 0";
        QTest::newRow("probes past the target are not on the path") << "30 60 0 0" << 2 << "30 60 - -"
                                                                    << "0 0 - -";
        QTest::newRow("target not found: every hop") << "5 100 100" << 0 << "5 100 100"
                                                     << "0 0 0";
    }

    void forwardLossOfCounts()
    {
        QFETCH(QString, losses);
        QFETCH(int, targetTtl);
        QFETCH(QString, forward);
        QFETCH(QString, declined);
        const auto f = ForwardLosses(Counts(losses), targetTtl);
        QCOMPARE(Text(f, &ForwardLoss::forwardPct), forward);
        QCOMPARE(Text(f, &ForwardLoss::declinedPct), declined);
    }

    void routeChanges_data()
    {
        QTest::addColumn<bool>("fixedFlow");
        QTest::addColumn<std::vector<RoundPath>>("rounds");
        QTest::addColumn<QStringList>("firstChanges"); // "round ttl:old>new ... tOld>New"
        QTest::addColumn<int>("kept");
        QTest::addColumn<int>("dropped");
        const AddressId n = kNoAddress;
        auto path = [](std::vector<AddressId> hops) { return [hops](int64_t) { return hops; }; };

        // Four ways at hop 2, two at hop 3, each probe a flow of its own.
        auto random = std::make_shared<std::mt19937>(3);
        const auto ecmp = Rounds(0, 600, 4, [random](int64_t) {
            return std::vector<AddressId> { 1, AddressId(10 + (*random)() % 4), AddressId(20 + (*random)() % 2), 9 };
        });
        QTest::newRow("load balancing is no change") << false << ecmp << QStringList {} << 0 << 0;

        const auto replaced = Rounds(20, 20, 4, path({ 1, 7, 3, 9 }), Rounds(0, 20, 4, path({ 1, 2, 3, 9 })));
        QTest::newRow("fixed flow: a replaced router at once")
            << true << replaced << QStringList { "20 2:2>7" } << 1 << 0;
        QTest::newRow("default: a replaced router on its third answer")
            << false << replaced << QStringList { "22 2:2>7" } << 1 << 0;
        const auto moved = Rounds(
            100, 50, 4,
            [](int64_t r) {
                return std::vector<AddressId> { 1, AddressId(40 + r % 2), 3, 9 };
            },
            Rounds(0, 100, 4, [](int64_t r) {
                return std::vector<AddressId> { 1, AddressId(10 + r % 2), 3, 9 };
            }));
        QTest::newRow("default: a balanced hop moved, on the fifth answer")
            << false << moved << QStringList { "104 2:11>40" } << 1 << 0;
        const auto gap = Rounds(20, 30, 4, path({ 1, 2, 3, 9 }),
            Rounds(10, 10, 4, path({ 1, n, 3, 9 }), Rounds(0, 10, 4, path({ 1, 2, 3, 9 }))));
        QTest::newRow("silent rounds are no change") << true << gap << QStringList {} << 0 << 0;
        const auto newcomer = Rounds(0, 100, 4, [](int64_t r) {
            return std::vector<AddressId> { 1, AddressId(r % 17 == 16 ? 11 : 10), 3, 9 };
        });
        QTest::newRow("an unseen address among known ones joins them") << false << newcomer << QStringList {} << 0 << 0;
        const auto lateWays = Rounds(0, 100, 4, [](int64_t r) {
            return std::vector<AddressId> { 1, AddressId(r < 8 ? 10 : 10 + r % 4), 3, 9 };
        });
        QTest::newRow("a balanced hop whose first answers came one way")
            << false << lateWays << QStringList {} << 0 << 0;

        auto nearer = Rounds(20, 10, 3, path({ 1, 2, 9 }), Rounds(0, 20, 4, path({ 1, 2, 3, 9 })));
        QTest::newRow("the target found nearer") << false << nearer << QStringList { "20 t4>3", "22 3:3>9" } << 2 << 0;
        auto lostAtTarget = Rounds(0, 30, 4, path({ 1, 2, 3, 9 }));
        lostAtTarget[10].hopAddresses = { 1, 2, 3, n, 9 };
        lostAtTarget[10].targetTtl = 5;
        QTest::newRow("the target's probe lost, a probe past it answered")
            << false << lostAtTarget << QStringList {} << 0 << 0;
        auto further = lostAtTarget;
        for (size_t r = 10; r < further.size(); ++r)
            further[r] = RoundPath { int64_t(r), 0, { 1, 2, 3, 8, 9 }, 5 };
        QTest::newRow("the target found further") << true << further << QStringList { "10 4:9>8 t4>5" } << 1 << 0;

        const auto flapping = Rounds(0, 1200, 2, [](int64_t r) {
            return std::vector<AddressId> { AddressId(r % 2), 9 };
        });
        QTest::newRow("a capped list") << true << flapping << QStringList { "200 1:1>0" } << int(kMaxRouteChanges)
                                       << 199;
    }

    void routeChanges()
    {
        QFETCH(bool, fixedFlow);
        QFETCH(std::vector<RoundPath>, rounds);
        QFETCH(QStringList, firstChanges);
        QFETCH(int, kept);
        QFETCH(int, dropped);
        RouteChanges changes(fixedFlow);
        for (const RoundPath& r : rounds)
            changes.Observe(r);
        QStringList seen;
        for (const RouteChange& c : changes.changes())
            seen << Text(c);
        QCOMPARE(seen.mid(0, firstChanges.size()), firstChanges);
        QCOMPARE(int(changes.changes().size()), kept);
        QCOMPARE(int(changes.droppedChanges()), dropped);
    }

    // The watch loop's one write path: outcomes in, each round finished once its probes are
    // decided, with answers arriving after the next round has left.
    void pathStatsFromOutcomes()
    {
        PathStats path(true);
        const char* hops[] = { "198.18.0.1", "198.18.1.1", "198.18.2.2" };
        std::optional<RouteChange> change;
        for (int64_t r = 0; r <= 20; ++r) {
            for (int ttl = 1; ttl <= 3 && r < 20; ++ttl)
                path.Record(ProbeOutcome { r, ttl, ProbeStatus::InFlight, r * 1000000, 0, {}, false });
            if (r == 0)
                continue;
            const int64_t answered = r - 1; // its answers come after round r left
            for (int ttl = 1; ttl <= 3; ++ttl) {
                const bool lost = ttl == 2 && answered == 5;
                const char* from = ttl == 2 && answered >= 10 ? "198.18.9.1" : hops[ttl - 1];
                path.Record(ProbeOutcome { answered, ttl, lost ? ProbeStatus::Lost : ProbeStatus::Answered,
                    answered * 1000000, 1000.0 * ttl, NetAddress::Parse(from), ttl == 3 });
            }
            change = change ? change : path.FinishRound(answered, r * 1000000);
        }
        QVERIFY(change);
        QCOMPARE(change->round, 10);
        QCOMPARE(path.addresses().At(change->hops.at(0).oldAddress).ToText(), "198.18.1.1");
        QCOMPARE(path.addresses().At(change->hops.at(0).newAddress).ToText(), "198.18.9.1");
        const PathFigures f = path.Figures();
        QCOMPARE(f.targetTtl, 3);
        QCOMPARE(f.hops.at(1).counts.lost, 1);
        QCOMPARE(f.hops.at(1).counts.sent, 20);
        QCOMPARE(*f.forward.at(1).declinedPct, 5.0);
        QCOMPARE(f.hops.at(1).addresses.size(), size_t(2));
    }
};

QTEST_APPLESS_MAIN(TestPathFigures)
#include "tst_path_figures.moc"
