// The watch driven through its handlers with a clock the test sets and crafted answers:
// deadlines, late answers, which hop counts each round probes. Real paths are covered by
// the namespace tests.
#include "fake_platform.h"
#include "flow_tag.h"
#include "icmp_socket.h"
#include "path_watch.h"
#include "probe_socket.h"

#include <QSignalSpy>
#include <QtTest>

#include <set>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
const uint32_t kTarget = htonl(0xC6120502); // 198.18.5.2

uint32_t Router(int hop)
{
    return htonl(0xC6120002u | uint32_t(hop) << 8); // 198.18.hop.2
}

// Whether another socket would be refused this UDP port.
bool PortTaken(uint16_t port)
{
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    sockaddr_in sa {};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    const bool taken = bind(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0 && errno == EADDRINUSE;
    close(fd);
    return taken;
}
} // namespace

class TestPathWatch : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<FakePlatform> fake;
    std::unique_ptr<PathStats> stats;
    std::unique_ptr<PathWatch> watch;

    void start(int maxHops, int waitMs, int intervalMs, int64_t count = 0, bool fixedFlow = false)
    {
        fake->clock->now = 1000;
        WatchParameters p;
        p.target = NetAddress::FromV4(kTarget);
        p.maxHops = maxHops;
        p.waitMs = waitMs;
        p.intervalUs = int64_t(intervalMs) * 1000;
        p.count = count;
        p.lookups = false;
        p.fixedFlow = fixedFlow;
        watch->Start(p);
    }
    void at(uint32_t ms)
    {
        fake->clock->now = ms;
        watch->OnTimer(IDT_WATCH);
    }
    // An answer to the probe for `hop` of round `round` (0 for the first), stamped by the
    // kernel at `arrivalMs`, read at once.
    void answer(int round, int hop, uint32_t arrivalMs, bool fromTarget = false, uint32_t sender = 0)
    {
        if (sender == 0)
            sender = fromTarget ? kTarget : Router(hop);
        fake->icmp->QueueWatchAnswer(round, hop, kTarget, sender, fromTarget, arrivalMs);
        watch->OnIcmpRead();
    }
    // The hop counts each round probed, in the order sent.
    std::vector<std::vector<int>> ttlsByRound() const
    {
        std::vector<std::vector<int>> out;
        for (const SentProbe& p : fake->probe->sent) {
            out.resize(size_t(p.socket));
            out[size_t(p.socket - 1)].push_back(p.ttl);
        }
        return out;
    }

private slots:
    void init()
    {
        fake = std::make_unique<FakePlatform>();
        stats = std::make_unique<PathStats>(false);
        watch = std::make_unique<PathWatch>(std::move(fake->platform), *stats);
    }

    void probeDecidedByItsOwnDeadline_data()
    {
        QTest::addColumn<int>("arrivalMs"); // after round 0 left; -1: never
        QTest::addColumn<int>("timerLateMs"); // how late the timer comes at the deadline
        QTest::addColumn<int>("received");
        QTest::addColumn<int>("lost");
        QTest::addColumn<int>("late");
        QTest::addColumn<double>("rttUs");
        QTest::newRow("answered within its round") << 12 << 0 << 1 << 0 << 0 << 12000.0;
        // Rounds 1 and 2 have left by then; it is still round 0's, timed from its probe.
        QTest::newRow("answered after the next rounds left") << 250 << 0 << 1 << 0 << 0 << 250000.0;
        QTest::newRow("answered at its deadline") << 300 << 0 << 1 << 0 << 0 << 300000.0;
        QTest::newRow("answered after its deadline: lost, then late") << 350 << 0 << 0 << 1 << 1 << 0.0;
        // Stamped after the deadline but read before the (late) timer judged it.
        QTest::newRow("answered after its deadline, read first") << 350 << 50 << 0 << 1 << 1 << 0.0;
        QTest::newRow("never answered: lost at its deadline") << -1 << 0 << 0 << 1 << 0 << 0.0;
    }
    void probeDecidedByItsOwnDeadline()
    {
        QFETCH(int, arrivalMs);
        QFETCH(int, timerLateMs);
        QFETCH(int, received);
        QFETCH(int, lost);
        QFETCH(int, late);
        QFETCH(double, rttUs);
        QSignalSpy finishedRounds(watch.get(), &PathWatch::roundFinished);
        start(3, 300, 100);
        const uint32_t arrival = 1000 + uint32_t(arrivalMs);
        bool answered = arrivalMs < 0;
        const uint32_t timerLate = uint32_t(timerLateMs);
        for (uint32_t t : { 1100u, 1200u, 1300u + timerLate, 1400u + timerLate }) {
            if (!answered && arrival <= t) {
                fake->clock->now = arrival;
                answer(0, 2, arrival);
                answered = true;
            }
            if (t < 1400 + timerLate)
                at(t);
        }
        // Round 0's probes are decided (their deadline was 1300), rounds 1 to 3 in flight.
        const LossCounts& c = stats->Hop(2)->counts();
        QCOMPARE(c.inFlight, 3);
        QCOMPARE(c.received, received);
        QCOMPARE(c.lost, lost);
        QCOMPARE(c.late, late);
        if (received)
            QCOMPARE(*stats->Hop(2)->Figures().rtt.lastUs, rttUs);
        QCOMPARE(finishedRounds.count(), 1);
        QCOMPARE(finishedRounds.front().front().toLongLong(), 0);
    }

    void roundsNarrowToTheTargetAndWidenAgain()
    {
        start(8, 50, 100);
        for (int r = 0; r < 15; ++r) {
            const uint32_t sent = 1000 + 100 * uint32_t(r);
            at(sent);
            if (r < 10 || r > 12) // the target answers at hop 4, but for rounds 10 to 12
                answer(r, 4, sent + 10, true);
            at(sent + 60);
        }
        const std::vector<std::vector<int>> rounds = ttlsByRound();
        QCOMPARE(rounds.at(0), std::vector<int>({ 1, 2, 3, 4, 5, 6, 7, 8 }));
        QCOMPARE(rounds.at(1), std::vector<int>({ 1, 2, 3, 4 }));
        // Every tenth round the target's probe goes two hop counts further, in its place.
        QCOMPARE(rounds.at(9), std::vector<int>({ 1, 2, 3, 6 }));
        QCOMPARE(rounds.at(10), std::vector<int>({ 1, 2, 3, 4 }));
        QCOMPARE(stats->Hop(4)->counts().received, 12); // round 9's answer among them
        QCOMPARE(stats->Hop(6)->counts().sent, 2); // rounds 0 and 13
        // Silent at its hop for three rounds (10 to 12): the next rounds probe every hop count.
        QCOMPARE(rounds.at(13).size(), size_t(8));
        for (const std::vector<int>& ttls : rounds)
            QCOMPARE(std::set<int>(ttls.begin(), ttls.end()).size(), ttls.size()); // once per round
    }

    // The probe sent past the target in round 9 (hop count 6 for a target at 4).
    void probePastTheTargetCountsWhereItsAnswerPlacesIt_data()
    {
        QTest::addColumn<int>("answerer"); // 0: the target, 1: a router at hop 6, 2: nobody
        QTest::addColumn<int>("round10Probes");
        QTest::addColumn<int>("hop4Sent");
        QTest::addColumn<int>("hop4Received");
        QTest::addColumn<int>("hop6Received");
        QTest::newRow("the target: its answer for the round") << 0 << 4 << 11 << 11 << 0;
        QTest::newRow("a router: the path grew, the target lost it, every hop count probed") << 1 << 8 << 11 << 10 << 1;
        QTest::newRow("nobody: the target's loss") << 2 << 4 << 11 << 10 << 0;
    }
    void probePastTheTargetCountsWhereItsAnswerPlacesIt()
    {
        QFETCH(int, answerer);
        QFETCH(int, round10Probes);
        QFETCH(int, hop4Sent);
        QFETCH(int, hop4Received);
        QFETCH(int, hop6Received);
        start(8, 50, 100);
        for (int r = 0; r < 11; ++r) {
            const uint32_t sent = 1000 + 100 * uint32_t(r);
            at(sent);
            if (r != 9)
                answer(r, 4, sent + 10, true);
            else if (answerer < 2)
                answer(r, 4, sent + 10, answerer == 0, answerer == 0 ? kTarget : Router(6));
            at(sent + 60);
        }
        QCOMPARE(ttlsByRound().at(10).size(), size_t(round10Probes));
        QCOMPARE(stats->Hop(4)->counts().sent, hop4Sent);
        QCOMPARE(stats->Hop(4)->counts().received, hop4Received);
        QCOMPARE(stats->Hop(6)->counts().received, hop6Received);
    }

    void lastAnswerFinishesTheRoundAndTheWatchAtOnce()
    {
        QSignalSpy finished(watch.get(), &PathWatch::finished);
        QSignalSpy finishedRounds(watch.get(), &PathWatch::roundFinished);
        start(3, 3000, 1000, 1);
        answer(0, 1, 1001);
        answer(0, 3, 1002, true);
        QCOMPARE(finishedRounds.count(), 0); // hop 2 still in flight
        answer(0, 2, 1003);
        QCOMPARE(finishedRounds.count(), 1); // not a wait later, at the next timer
        QCOMPARE(finished.count(), 1);
    }

    void roundsKeepTheirSlotsAndCountStops()
    {
        QSignalSpy finished(watch.get(), &PathWatch::finished);
        QSignalSpy finishedRounds(watch.get(), &PathWatch::roundFinished);
        start(2, 300, 100, 3);
        at(1150); // late for round 1: it leaves now,
        answer(1, 1, 1151);
        answer(1, 2, 1151);
        at(1200); // and round 2 still at its own time
        QCOMPARE(finishedRounds.count(), 0); // round 1 is decided, but round 0 is not
        QCOMPARE(fake->probe->sent.back().tick, 1200u);
        at(1400);
        QCOMPARE(watch->roundsSent(), 3);
        QCOMPARE(finished.count(), 0); // round 2's deadline has not passed
        at(1500);
        QCOMPARE(finished.count(), 1);
        QCOMPARE(stats->Hop(1)->counts().lost, 2);
        QCOMPARE(finishedRounds.count(), 3);
        QCOMPARE(finishedRounds.at(1).front().toLongLong(), 1);
    }

    // Fixed flow: every probe has the same ports; the data bytes the answer quotes name
    // its round and hop.
    void fixedFlowAnswerCountsForTheProbeItsTagNames()
    {
        start(3, 300, 100, 0, true);
        at(1100);
        QCOMPARE(fake->probe->flowOpens, 1); // one socket for every round
        const auto quoting = [&](const std::array<uint8_t, 2>& data, uint32_t arrivalMs) {
            CraftedIcmp d;
            d.quotedDestination = kTarget;
            d.quotedPort = kFlowPort;
            d.quotedSourcePort = FakeProbeSocket::PortOf(1);
            d.quotedData.assign(data.begin(), data.end());
            fake->icmp->queue.push_back({ d.bytes(), Router(2), true, arrivalMs });
            watch->OnIcmpRead();
        };
        quoting(fake->probe->sent.at(1).data, 1150); // round 0, hop 2, after round 1 left
        quoting({ 0x12, 0x34 }, 1150); // names no probe
        const LossCounts& c = stats->Hop(2)->counts();
        QCOMPARE(c.received, 1);
        QCOMPARE(c.inFlight, 1);
        QCOMPARE(*stats->Hop(2)->Figures().rtt.lastUs, 150000.0);
    }

    void roundsSocketReleasedOnceItsProbesAreDecided()
    {
        start(2, 300, 100);
        QVERIFY(fake->icmp->keepsProbeSockets);
        at(1100);
        answer(0, 1, 1150);
        QVERIFY(fake->icmp->released.empty()); // hop 2 still in flight
        answer(0, 2, 1160, true);
        at(1200); // round 0 decided, round 1 not; round 2 leaves
        QCOMPARE(fake->icmp->released, std::vector<uint16_t> { FakeProbeSocket::PortOf(1) });
        at(1400); // round 1's deadlines pass
        QCOMPARE(
            fake->icmp->released, (std::vector<uint16_t> { FakeProbeSocket::PortOf(1), FakeProbeSocket::PortOf(2) }));
    }

    // The system's sockets: a round's socket, closed after its sends, keeps its port while
    // the watch keeps probe sockets (whether its errors are read or a raw socket reads
    // the answers), until released; the trace keeps only those whose errors it reads.
    void probeSocketKeepsItsPortUntilReleased_data()
    {
        QTest::addColumn<bool>("keep");
        QTest::newRow("trace") << false;
        QTest::newRow("watch") << true;
    }
    void probeSocketKeepsItsPortUntilReleased()
    {
        QFETCH(bool, keep);
        SystemIcmpSocket icmp;
        QVERIFY(icmp.Create());
        icmp.KeepProbeSockets(keep);
        UdpProbeSocket probe(&icmp);
        QCOMPARE(probe.Open(AF_INET), 0);
        const uint16_t port = probe.LocalPort();
        probe.Close();
        QCOMPARE(PortTaken(port), keep || icmp.WantsProbeErrors(AF_INET));
        icmp.ReleaseProbeSocket(port);
        QVERIFY(!PortTaken(port));
    }

    void stopNowLeavesProbesInFlight()
    {
        QSignalSpy finished(watch.get(), &PathWatch::finished);
        start(2, 300, 100);
        at(1100);
        answer(1, 1, 1105);
        watch->StopNow();
        QCOMPARE(finished.count(), 1);
        QCOMPARE(watch->roundsSent(), 2);
        const LossCounts& c = stats->Hop(1)->counts();
        QCOMPARE(c.received, 1);
        QCOMPARE(c.inFlight, 1);
        QCOMPARE(*c.lossPct(), 0.0);
        at(1500);
        QCOMPARE(fake->probe->sent.size(), size_t(4)); // nothing sent after the stop
    }
};

QTEST_GUILESS_MAIN(TestPathWatch)
#include "tst_path_watch.moc"
