// The trace engine driven through its handlers, with crafted answers, a clock the test
// sets and lookups that complete when and how the test says. Real paths are covered by
// the namespace tests.
#include "fake_platform.h"
#include "flow_tag.h"
#include "round_schedule.h"
#include "trace_engine.h"

#include <QSignalSpy>
#include <QtTest>

#include <cerrno>
#include <climits>
#include <cstring>
#include <set>

Q_DECLARE_METATYPE(std::vector<RowWait>)

namespace {
const uint32_t kTarget = htonl(0xC6120502); // 198.18.5.2
const uint32_t kOther = htonl(0xC6120602);

uint32_t Router(int hop)
{
    return htonl(0xC6120002u | uint32_t(hop) << 8); // 198.18.hop.2
}

// The IPv6 twin of 198.18.X.2: 2001:db8:X::2.
NetAddress V6Of(uint32_t v4)
{
    NetAddress a = NetAddress::Parse("2001:db8::2");
    a.bytes[5] = uint8_t(ntohl(v4) >> 8);
    return a;
}
} // namespace

class TestTraceEngine : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<FakePlatform> fake;
    std::unique_ptr<HopRowList> rows;
    std::unique_ptr<TraceEngine> engine;
    TraceParameters params;
    // How the answers arrive: ICMPv6 for the IPv6 twins of the addresses given, and from
    // the probe sockets' error queues rather than a raw socket.
    bool v6 = false;
    bool errorQueue = false;

    void start(const char* host = "198.18.5.2", int hops = 16, int tries = 3)
    {
        params.m_strHost = QString::fromLatin1(host);
        params.m_nHops = hops;
        params.m_nTries = tries;
        engine->OnOK(params);
    }
    // An answer from `from` quoting the probe for hop `hop` (1-based) to `dst`, sent
    // from the socket of round `round` (the latest by default), read as it arrives.
    void answer(int hop, uint8_t type, uint8_t code, uint32_t from, uint32_t dst = kTarget, int round = 0)
    {
        queue(hop, type, code, from, dst, round);
        engine->OnIcmpRead();
    }
    void queue(int hop, uint8_t type, uint8_t code, uint32_t from, uint32_t dst = kTarget, int round = 0)
    {
        CraftedIcmp d;
        d.type = type;
        d.code = code;
        d.quotedDestination = dst;
        d.quotedPort = uint16_t(65536 - hop);
        d.quotedSourcePort = FakeProbeSocket::PortOf(round ? round : fake->probe->opens);
        FakeIcmpSocket::Datagram datagram { {}, from };
        if (v6) {
            d.v6 = true;
            std::memcpy(d.quotedDestination6, V6Of(dst).bytes.data(), 16);
            // Time exceeded is type 3 in ICMPv6, port unreachable type 1 code 4.
            d.type = type == 11 ? 3 : type == 3 && code == 3 ? 1 : type;
            d.code = type == 3 && code == 3 ? 4 : code;
            datagram.sender6 = V6Of(from);
        }
        datagram.bytes = d.bytes();
        datagram.errorQueue = errorQueue;
        fake->icmp->queue.push_back(datagram);
    }
    // Fixed flow: an answer quoting probe number `probe` (in the order sent) as the
    // wire carried it, with its checksum (`checksum`: else 0, no tag) and `data` of
    // its data bytes; `sourcePort` 0 is the trace's own.
    enum Quote { ChecksumOnly, DataOnly, Both, Neither };
    void flowAnswer(size_t probe, uint8_t type, uint32_t from, Quote quote, uint16_t sourcePort = 0)
    {
        const SentProbe& p = fake->probe->sent.at(probe);
        const ProbeFlow flow { FakeProbeSocket::Source(), p.addr, FakeProbeSocket::PortOf(1), kFlowPort };
        CraftedIcmp d;
        d.type = type;
        d.code = type == 3 ? 3 : 0;
        d.quotedDestination = p.addr.v4();
        d.quotedPort = p.port;
        d.quotedSourcePort = sourcePort ? sourcePort : flow.sourcePort;
        if (quote == ChecksumOnly || quote == Both)
            d.quotedChecksum = UdpChecksum(flow, p.data.data(), p.data.size());
        if (quote == DataOnly || quote == Both)
            d.quotedData.assign(p.data.begin(), p.data.end());
        fake->icmp->queue.push_back({ d.bytes(), from });
        engine->OnIcmpRead();
    }
    void startFlow(int hops, int tries = 3)
    {
        params.m_bFixedFlow = true;
        start("198.18.5.2", hops, tries);
    }
    QString cell(int row, int column) const { return QString::fromStdString(rows->GetItemData(row)->text(column)); }
    QStringList column(int c) const
    {
        QStringList out;
        for (int i = 0; i < rows->GetItemCount(); ++i)
            out << cell(i, c);
        return out;
    }

private slots:
    void init();
    void firstRoundProbesEveryHopFromOneSocket();
    void answerTimedFromTheProbeItAnswers_data();
    void answerTimedFromTheProbeItAnswers();
    void kernelReceiveTimeBeatsHandlerTime();
    void lateAnswerOnAPortGivenAgain();
    void answersThatMustNotCount();
    void laterRoundsProbeOnlySilentHopsUpToTheTarget();
    void traceEndsOnceThePathIsKnown();
    void timeoutEndingMarksAndTrims();
    void queuedAnswersCountBeforeTheRoundStep();
    void unresolvableHostEndsWithFailureText();
    void namesResolveWithoutBlockingEveryRound();
    void oneResolutionAtATime();
    void familyForcedAgainstTheAddress();
    void hopAndTryCountsAtTheirLimits_data();
    void hopAndTryCountsAtTheirLimits();
    void foreignTimerIdAndLateTick();
    void socketCreationRetriesAreBounded();
    void unsendableProbesEndTheTrace_data();
    void unsendableProbesEndTheTrace();
    void unrelatedAnswersCannotHoldARoundThatSentNothing();
    void lookupsFillRowsInAnyOrder();
    void lookupThatCannotStartCountsAsDone();
    void staleLookupsCannotTouchNewTrace();
    void fixedFlowOneSocketForTheTrace();
    void fixedFlowAnswersThatMustNotCount();
    void fixedFlowUntaggedAnswersFoundOneAtATime();
    void fixedFlowUntaggedAnswerOfTheOneRowLeft();
    void roundSchedule_data();
    void roundSchedule();
    void closedMidTraceWithOneFlow();
};

void TestTraceEngine::init()
{
    engine.reset();
    rows = std::make_unique<HopRowList>();
    fake = std::make_unique<FakePlatform>();
    engine = std::make_unique<TraceEngine>(*rows, std::move(fake->platform));
    params = {};
    v6 = false;
    errorQueue = false;
    params.m_nTimeout = 60000; // rounds are driven by hand
    QVERIFY(engine->OpenIcmpSocket(params.m_nTimeout).isEmpty());
}

void TestTraceEngine::firstRoundProbesEveryHopFromOneSocket()
{
    start();
    QCOMPARE(rows->GetItemCount(), 16);
    QCOMPARE(column(0).first(), "1");
    QCOMPARE(column(0).last(), "16");
    QCOMPARE(column(4), QStringList(16, "tracing..."));
    QCOMPARE(engine->status(), "Tracing...");
    QCOMPARE(engine->target(), "198.18.5.2");
    QCOMPARE(fake->resolver->forwardLookups, 0); // an address is used as is
    QCOMPARE(fake->probe->sent.size(), size_t(16));
    for (int j = 0; j < 16; ++j) {
        const SentProbe& p = fake->probe->sent[size_t(j)];
        QCOMPARE(p.ttl, j + 1);
        QCOMPARE(p.port, 65535 - j);
        QCOMPARE(p.addr, NetAddress::FromV4(kTarget));
        QCOMPARE(p.len, size_t(2));
        QCOMPARE(p.socket, 1);
    }
    QCOMPARE(fake->probe->closes, 1);
    QVERIFY(fake->icmp->notify);
    QVERIFY(engine->platform().timer->IsActive());
}

void TestTraceEngine::answerTimedFromTheProbeItAnswers_data()
{
    QTest::addColumn<bool>("ipv6");
    QTest::addColumn<bool>("fromErrorQueue");
    QTest::newRow("IPv4, raw socket") << false << false;
    QTest::newRow("IPv6, raw socket") << true << false;
    QTest::newRow("IPv4, error queue") << false << true;
    QTest::newRow("IPv6, error queue") << true << true;
}

void TestTraceEngine::answerTimedFromTheProbeItAnswers()
{
    QFETCH(bool, ipv6);
    QFETCH(bool, fromErrorQueue);
    v6 = ipv6;
    errorQueue = fromErrorQueue;
    auto text
        = [&](uint32_t a) { return QString::fromStdString(v6 ? V6Of(a).ToText() : NetAddress::FromV4(a).ToText()); };
    fake->clock->now = 1000;
    start(v6 ? "2001:db8:5::2" : "198.18.5.2", 4);
    QCOMPARE(fake->probe->sent.front().addr.family, v6 ? NetAddress::V6 : NetAddress::V4);
    fake->clock->now = 1012;
    answer(3, 11, 0, Router(3));
    QCOMPARE(column(1)[2], text(Router(3)));
    QCOMPARE(column(2), QStringList({ "", "", "12", "" }));
    QCOMPARE(cell(2, 4), "next");
    QCOMPARE(rows->GetItemData(2)->nRttUs, 12000);

    fake->clock->now = 4000;
    engine->OnTimer(IDT_ROUND); // hops 1, 2 and 4 probed again
    fake->clock->now = 4010;
    answer(1, 11, 0, Router(1), kTarget, 1); // late: answers round 1's probe
    answer(2, 11, 0, Router(2), kTarget, 2);
    QCOMPARE(cell(0, 2), "3010");
    QCOMPARE(cell(1, 2), "10");
    // A later answer for the same hop replaces the earlier one.
    fake->clock->now = 4020;
    answer(3, 3, 3, kTarget, kTarget, 1);
    QCOMPARE(cell(2, 1), text(kTarget));
    QCOMPARE(cell(2, 2), "3020");
    QCOMPARE(cell(2, 4), "complete");
    QVERIFY(engine->done()); // hops 1 to 3 have answered, and 3 is the target
}

void TestTraceEngine::kernelReceiveTimeBeatsHandlerTime()
{
    fake->clock->now = 7000;
    start("198.18.5.2", 3);
    CraftedIcmp d;
    d.quotedDestination = kTarget;
    // Arrived 4 ms after the probe; handled 30 ms after it, once the UI thread was free.
    fake->icmp->queue.push_back({ d.bytes(), Router(1), true, 7004 });
    fake->clock->now = 7030;
    engine->OnIcmpRead();
    QCOMPARE(cell(0, 2), "4");
    d.quotedPort = 65534;
    fake->icmp->queue.push_back({ d.bytes(), Router(2) }); // no stamp: handler time
    engine->OnIcmpRead();
    QCOMPARE(cell(1, 2), "30");
    // Stamped before the send time was read (sendto() still running): under a tick.
    d.quotedPort = 65535;
    fake->icmp->queue.push_back({ d.bytes(), Router(1), true, 6999 });
    engine->OnIcmpRead();
    QCOMPARE(cell(0, 2), "0");
    // An answer that arrived while sendto() still ran is timed from before the call: the
    // clock read after it made every fast hop 0.
    init();
    fake->clock->now = 7000;
    fake->probe->sendTakesMs = 2;
    start("198.18.5.2", 1);
    fake->icmp->queue.push_back({ d.bytes(), Router(1), true, 7002 });
    engine->OnIcmpRead();
    QCOMPARE(rows->GetItemData(0)->nRttUs, 2000);
    // The tick counter wraps between probe and answer.
    init();
    fake->clock->now = 0xFFFFFFF0u;
    start("198.18.5.2", 1);
    fake->clock->now = 6;
    answer(1, 3, 3, kTarget);
    QCOMPARE(cell(0, 2), "22");
}

void TestTraceEngine::lateAnswerOnAPortGivenAgain()
{
    // The system gives the second round's socket the first round's port: it is opened
    // again, so a late answer to the first round is timed from that round's probe.
    fake->clock->now = 1000;
    start("198.18.5.2", 3);
    fake->clock->now = 1100;
    fake->probe->ports = { FakeProbeSocket::PortOf(1) };
    engine->OnTimer(IDT_ROUND);
    fake->clock->now = 1150;
    answer(1, 11, 0, Router(1), kTarget, 1);
    QCOMPARE(rows->GetItemData(0)->nRttUs, 150000);
    QCOMPARE(fake->probe->sent.back().socket, 3);
    answer(2, 11, 0, Router(2), kTarget, 3);
    QCOMPARE(rows->GetItemData(1)->nRttUs, 50000);
}

void TestTraceEngine::answersThatMustNotCount()
{
    start("198.18.5.2", 4);
    answer(2, 11, 0, Router(2), kOther); // quotes a probe to another host
    answer(5, 11, 0, Router(5)); // hop beyond the table
    answer(1, 11, 0, Router(1), kTarget, 7); // from a source port of no round of ours
    CraftedIcmp ping;
    ping.quotedProtocol = 1;
    fake->icmp->queue.push_back({ ping.bytes(), Router(1) });
    engine->OnIcmpRead();
    engine->OnIcmpRead(); // nothing queued: the read fails
    QCOMPARE(column(2), QStringList(4, ""));
    QCOMPARE(column(4), QStringList(4, "tracing..."));
    QVERIFY(!engine->done());
}

void TestTraceEngine::laterRoundsProbeOnlySilentHopsUpToTheTarget()
{
    fake->clock->now = 100;
    start();
    for (int hop = 1; hop <= 5; ++hop)
        answer(hop, 11, 0, Router(hop));
    fake->probe->sent.clear();
    fake->clock->now = 3100;
    engine->OnTimer(IDT_ROUND);
    QCOMPARE(engine->status(), "Retracing...");
    QCOMPARE(fake->probe->sent.size(), size_t(11));
    QCOMPARE(fake->probe->sent.front().ttl, 6);
    QCOMPARE(fake->probe->sent.front().port, 65530);
    QCOMPARE(fake->probe->sent.back().ttl, 16);
    QCOMPARE(fake->probe->sent.back().port, 65520);
    QCOMPARE(engine->roundsLeft(), 1);

    // The target answers hop 9: hops past it are neither probed nor waited for.
    answer(9, 3, 3, kTarget);
    fake->probe->sent.clear();
    engine->OnTimer(IDT_ROUND);
    QCOMPARE(fake->probe->sent.size(), size_t(3));
    QCOMPARE(fake->probe->sent.back().ttl, 8);
}

void TestTraceEngine::traceEndsOnceThePathIsKnown()
{
    QSignalSpy finished(engine.get(), &TraceEngine::traceFinished);
    start("198.18.5.2", 8);
    answer(1, 11, 0, Router(1));
    answer(3, 3, 3, kTarget); // the target at hop 3; hop 2 still silent
    QVERIFY(!engine->done());
    answer(5, 3, 3, kTarget);
    answer(2, 11, 0, Router(2)); // hops 4 to 8 never answer: the target's rate limit
    QVERIFY(engine->done());
    QVERIFY(!engine->platform().timer->IsActive());
    QVERIFY(!fake->icmp->notify);
    QCOMPARE(column(4), QStringList({ "next", "next", "complete" }));
    QCOMPARE(engine->status(), "Looking up...");
    QCOMPARE(fake->reverse->started.size(), size_t(3));
    QCOMPARE(finished.count(), 0);

    // Answers after the end change nothing.
    answer(1, 3, 1, Router(9));
    QCOMPARE(cell(0, 4), "next");
}

void TestTraceEngine::timeoutEndingMarksAndTrims()
{
    start("198.18.5.2", 16, 2);
    for (int hop = 1; hop <= 9; ++hop) {
        if (hop != 4) // a router that never answers
            answer(hop, 11, 0, Router(hop));
    }
    engine->OnTimer(IDT_ROUND); // second and last round
    QCOMPARE(fake->probe->sent.size(), size_t(16 + 8));
    engine->OnTimer(IDT_ROUND); // its wait has run out
    QVERIFY(engine->done());
    QCOMPARE(rows->GetItemCount(), 10);
    QCOMPARE(cell(3, 1), "unknown");
    QCOMPARE(cell(3, 2), "");
    QCOMPARE(cell(3, 4), "failed");
    QCOMPARE(cell(9, 0), "10");
    QCOMPARE(cell(9, 1), "unknown");
    QCOMPARE(cell(9, 4), "failed");
    QCOMPARE(fake->reverse->started.size(), size_t(8)); // none for the silent rows
}

void TestTraceEngine::queuedAnswersCountBeforeTheRoundStep()
{
    // The UI thread was busy: the answers wait on the socket when the round timer fires.
    params.m_bFixedWait = true;
    params.m_nTimeout = 1;
    start("198.18.5.2", 7, 1);
    queue(1, 11, 0, Router(1));
    queue(2, 11, 0, Router(2));
    queue(3, 3, 3, kTarget);
    emit engine->platform().timer->timeout(IDT_ROUND);
    QVERIFY(engine->done());
    QCOMPARE(column(4), QStringList({ "next", "next", "complete" }));
}

void TestTraceEngine::unresolvableHostEndsWithFailureText()
{
    QSignalSpy finished(engine.get(), &TraceEngine::traceFinished);
    start("no-such-host.invalid");
    QCOMPARE(engine->target(), "unknown");
    QCOMPARE(engine->status(), "Lookup of no-such-host.invalid failed dramatically");
    QVERIFY(engine->resolveFailed());
    QCOMPARE(rows->GetItemCount(), 1);
    QCOMPARE(cell(0, 1), "unknown");
    QCOMPARE(cell(0, 4), "failed");
    QVERIFY(fake->probe->sent.empty());
    QVERIFY(!engine->platform().timer->IsActive());
    QCOMPARE(finished.count(), 1);
}

void TestTraceEngine::namesResolveWithoutBlockingEveryRound()
{
    fake->resolver->names["path.test"] = NetAddress::FromV4(kTarget);
    fake->resolver->deferred = true;
    start("path.test", 3);
    QCOMPARE(engine->status(), "Tracing...");
    QVERIFY(fake->probe->sent.empty()); // the first round waits for the address
    QVERIFY(!engine->platform().timer->IsActive());
    fake->resolver->AnswerAll();
    QCOMPARE(fake->probe->sent.size(), size_t(3));
    QCOMPARE(engine->target(), "198.18.5.2");
    QVERIFY(engine->platform().timer->IsActive());
    answer(1, 11, 0, Router(1));

    // The name moves: the next round probes the known address at once while it is
    // resolved again, and the round after that probes the new one.
    fake->resolver->names["path.test"] = NetAddress::FromV4(kOther);
    engine->OnTimer(IDT_ROUND);
    QCOMPARE(fake->probe->sent.back().addr, NetAddress::FromV4(kTarget));
    fake->resolver->AnswerAll();
    QCOMPARE(fake->resolver->forwardLookups, 2);
    answer(2, 11, 0, Router(2), kTarget);
    QCOMPARE(cell(1, 4), "next");

    // The name disappears: the trace ends with the failure text, answers kept.
    fake->resolver->names.clear();
    engine->OnTimer(IDT_ROUND);
    QCOMPARE(fake->probe->sent.back().addr, NetAddress::FromV4(kOther));
    answer(3, 11, 0, Router(3), kTarget); // to this round's probe, but quoting the old address
    QCOMPARE(cell(2, 4), "tracing...");
    fake->resolver->AnswerAll();
    QCOMPARE(engine->status(), "Lookup of path.test failed dramatically");
    QCOMPARE(engine->target(), "unknown");
    QCOMPARE(column(4), QStringList({ "next", "next", "failed" }));
    // The rows answered before are looked up; their names do not replace the text.
    QCOMPARE(fake->reverse->started.size(), size_t(2));
    for (const auto& started : fake->reverse->started)
        fake->reverse->Complete(started.first, 0, "router.path.test");
    QVERIFY(engine->finished());
    QCOMPARE(engine->status(), "Lookup of path.test failed dramatically");
    QVERIFY(engine->resolveFailed());
}

void TestTraceEngine::oneResolutionAtATime()
{
    // A name server slower than the rounds: they probe the address known, and the next
    // resolution starts only once the one under way has answered.
    fake->resolver->names["path.test"] = NetAddress::FromV4(kTarget);
    fake->resolver->deferred = true;
    start("path.test", 3, 10);
    fake->resolver->AnswerAll();
    for (int i = 0; i < 5; ++i)
        engine->OnTimer(IDT_ROUND);
    QCOMPARE(fake->probe->opens, 6);
    QCOMPARE(fake->resolver->forwardLookups, 2);
    fake->resolver->AnswerAll();
    engine->OnTimer(IDT_ROUND);
    QCOMPARE(fake->resolver->forwardLookups, 3);
}

void TestTraceEngine::familyForcedAgainstTheAddress()
{
    params.m_family = AddressChoice::V6;
    start("198.18.5.2", 3);
    QVERIFY(engine->resolveFailed());
    QCOMPARE(engine->status(), "198.18.5.2 is an IPv4 address, not IPv6");
    QVERIFY(fake->probe->sent.empty());
    params.m_family = AddressChoice::V4;
    start("2001:db8::1", 3);
    QCOMPARE(engine->status(), "2001:db8::1 is an IPv6 address, not IPv4");
    params.m_family = AddressChoice::Auto;
    start("[2001:db8::1]", 3);
    QCOMPARE(engine->target(), "2001:db8::1");
    QCOMPARE(fake->probe->sent.back().addr.family, NetAddress::V6);
}

void TestTraceEngine::hopAndTryCountsAtTheirLimits_data()
{
    QTest::addColumn<int>("hops");
    QTest::addColumn<int>("tries");
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("rounds");
    QTest::newRow("negative hops") << -3 << 3 << 0 << 0;
    QTest::newRow("hops above 255") << 300 << 1 << 255 << 1;
    QTest::newRow("lowest int tries") << 4 << INT_MIN << 4 << 1;
    QTest::newRow("three tries") << 4 << 3 << 4 << 3;
}

void TestTraceEngine::hopAndTryCountsAtTheirLimits()
{
    QFETCH(int, hops);
    QFETCH(int, tries);
    QSignalSpy finished(engine.get(), &TraceEngine::traceFinished);
    start("198.18.5.2", hops, tries);
    QTEST(rows->GetItemCount(), "rows");
    for (int step = 0; step < 10 && !engine->done(); ++step)
        engine->OnTimer(IDT_ROUND);
    QVERIFY(engine->done());
    QTEST(fake->probe->opens, "rounds");
    QCOMPARE(finished.count(), 1);
    QVERIFY(!engine->platform().timer->IsActive());
    if (hops == 300) {
        QCOMPARE(fake->probe->sent.back().ttl, 255);
        QCOMPARE(fake->probe->sent.back().port, 65281);
    }
}

void TestTraceEngine::foreignTimerIdAndLateTick()
{
    start("198.18.5.2", 4, 1);
    engine->OnTimer(38); // not the round timer
    QCOMPARE(fake->probe->sent.size(), size_t(4));
    QVERIFY(!engine->done());
    answer(1, 11, 0, Router(1)); // within the single wait
    engine->OnTimer(IDT_ROUND);
    QVERIFY(engine->done());
    QCOMPARE(column(4), QStringList({ "next", "failed" }));
    // A late tick of the stopped timer neither ends the trace again nor looks up twice.
    const size_t lookups = fake->reverse->started.size();
    engine->OnTimer(IDT_ROUND);
    QCOMPARE(fake->reverse->started.size(), lookups);
    QCOMPARE(rows->GetItemCount(), 2);
}

void TestTraceEngine::socketCreationRetriesAreBounded()
{
    fake->probe->openErrors = { ENOBUFS, EMFILE };
    start("198.18.5.2", 2);
    QCOMPARE(fake->probe->sent.size(), size_t(2)); // got through after two retries

    fake->probe->openErrors.assign(1000, ENOBUFS);
    engine->OnTimer(IDT_ROUND); // gives up: the round is skipped
    QCOMPARE(fake->probe->sent.size(), size_t(2));
    QCOMPARE(engine->roundsLeft(), 1);

    fake->probe->openErrors = { EACCES };
    engine->OnTimer(IDT_ROUND);
    QCOMPARE(fake->probe->sent.size(), size_t(2));
    QCOMPARE(engine->sendError(), EACCES); // no retry can help: the trace ends
}

void TestTraceEngine::unsendableProbesEndTheTrace_data()
{
    QTest::addColumn<bool>("flow");
    QTest::addColumn<int>("openError");
    QTest::addColumn<QList<int>>("sendErrors"); // of the first sends; 0 sends
    QTest::addColumn<int>("sent");
    QTest::addColumn<int>("error"); // the trace ends with it; 0: it goes on
    QTest::newRow("no route") << false << 0 << QList<int> { ENETUNREACH } << 0 << ENETUNREACH;
    QTest::newRow("host unreachable on the third probe")
        << false << 0 << QList<int> { 0, 0, EHOSTUNREACH } << 2 << EHOSTUNREACH;
    QTest::newRow("no socket of the family") << false << EAFNOSUPPORT << QList<int> {} << 0 << EAFNOSUPPORT;
    QTest::newRow("one flow, no route to bind to") << true << ENETUNREACH << QList<int> {} << 0 << ENETUNREACH;
    QTest::newRow("one flow, send refused") << true << 0 << QList<int> { 0, EACCES } << 1 << EACCES;
    QTest::newRow("send buffer full: lost, not fatal") << false << 0 << QList<int> { ENOBUFS, EAGAIN } << 14 << 0;
    QTest::newRow("an answer's pending error") << false << 0 << QList<int> { ECONNREFUSED } << 15 << 0;
}

void TestTraceEngine::unsendableProbesEndTheTrace()
{
    QFETCH(bool, flow);
    QFETCH(int, openError);
    QFETCH(QList<int>, sendErrors);
    QFETCH(int, sent);
    QFETCH(int, error);
    QSignalSpy finished(engine.get(), &TraceEngine::traceFinished);
    if (openError)
        fake->probe->openErrors = { openError };
    fake->probe->sendErrors.assign(sendErrors.begin(), sendErrors.end());
    params.m_bFixedFlow = flow;
    start("198.18.5.2", 16, 3);
    QCOMPARE(fake->probe->sent.size(), size_t(sent));
    QCOMPARE(engine->sendError(), error);
    if (error == 0) {
        QVERIFY(!engine->done());
        QVERIFY(engine->platform().timer->IsActive());
        return;
    }
    // At once, saying why, no round left.
    QVERIFY(engine->done());
    QCOMPARE(engine->status(), QString::fromLocal8Bit(std::strerror(error)));
    QVERIFY(!engine->platform().timer->IsActive());
    QCOMPARE(finished.count(), 1);
    QCOMPARE(column(4), QStringList { "failed" });
    engine->OnTimer(IDT_ROUND);
    QCOMPARE(fake->probe->sent.size(), size_t(sent));
}

void TestTraceEngine::unrelatedAnswersCannotHoldARoundThatSentNothing()
{
    // No socket for the first round, and another program's answers arriving more often
    // than the wait: the round still ends when its wait is over.
    params.m_nTimeout = 200;
    fake->probe->openErrors.assign(1000, ENOBUFS);
    start("198.18.5.2", 3, 3);
    QCOMPARE(engine->roundsLeft(), 2);
    for (int i = 0; i < 10 && engine->roundsLeft() == 2; ++i) {
        QTest::qWait(50);
        fake->clock->now += 50;
        answer(1, 11, 0, Router(1), kOther);
    }
    QCOMPARE(engine->roundsLeft(), 1);
}

void TestTraceEngine::lookupsFillRowsInAnyOrder()
{
    QSignalSpy finished(engine.get(), &TraceEngine::traceFinished);
    start("198.18.5.2", 3);
    answer(1, 11, 0, Router(1));
    answer(2, 11, 0, Router(2));
    answer(3, 3, 3, kTarget);
    const auto handles = fake->reverse->started;
    QCOMPARE(handles.size(), size_t(3));
    auto it = handles.begin();
    const int h1 = (it++)->first, h2 = (it++)->first, h3 = it->first;
    QCOMPARE(handles.at(h1), NetAddress::FromV4(Router(1)));

    fake->reverse->Complete(h3, 0, "target.path.test");
    QCOMPARE(cell(2, 3), "target.path.test");
    QCOMPARE(engine->status(), "Looking up...");
    fake->reverse->Complete(h1, 2, ""); // no name known: the address stands in
    QCOMPARE(cell(0, 3), "198.18.1.2");
    fake->reverse->Complete(999, 0, "nobody.test"); // matches no row
    QCOMPARE(engine->status(), "Looking up...");
    QCOMPARE(finished.count(), 0);
    fake->reverse->Complete(h2, 0, "r2.path.test");
    QCOMPARE(cell(1, 3), "r2.path.test");
    QCOMPARE(engine->status(), "Complete.");
    QCOMPARE(finished.count(), 1);
}

void TestTraceEngine::lookupThatCannotStartCountsAsDone()
{
    fake->reverse->failStarts = true;
    QSignalSpy finished(engine.get(), &TraceEngine::traceFinished);
    start("198.18.5.2", 1);
    answer(1, 3, 3, kTarget);
    QCOMPARE(rows->GetItemData(0)->hLookup, 0);
    QCOMPARE(engine->status(), "Complete.");
    QCOMPARE(finished.count(), 1);
}

void TestTraceEngine::staleLookupsCannotTouchNewTrace()
{
    start("198.18.5.2", 2);
    answer(1, 11, 0, Router(1));
    answer(2, 3, 3, kTarget);
    const int stale = fake->reverse->started.begin()->first;

    start("198.18.5.2", 2); // Trace again while both lookups are outstanding
    QCOMPARE(fake->reverse->cancelled.size(), size_t(2));
    QVERIFY(fake->reverse->cancelled.count(stale));
    answer(1, 11, 0, Router(1));
    QCOMPARE(rows->GetItemData(0)->hLookup, -1);

    // Even a completion that raced its cancel neither fills a row nor ends the trace.
    fake->reverse->Complete(stale, 0, "stale.path.test");
    QCOMPARE(cell(0, 3), "");
    QVERIFY(!engine->done());
    QCOMPARE(engine->status(), "Tracing...");
    QVERIFY(engine->platform().timer->IsActive());
}

void TestTraceEngine::fixedFlowOneSocketForTheTrace()
{
    fake->clock->now = 1000;
    startFlow(4);
    std::set<std::array<uint8_t, 2>> data;
    for (const SentProbe& p : fake->probe->sent) {
        QCOMPARE(p.port, kFlowPort);
        QCOMPARE(p.socket, 1);
        data.insert(p.data);
    }
    QCOMPARE(data.size(), size_t(4)); // each probe named by its own tag
    QCOMPARE(fake->probe->flowOpens, 1);
    QCOMPARE(fake->probe->closes, 0); // open until the trace ends
    fake->clock->now = 1012;
    flowAnswer(1, 11, Router(2), ChecksumOnly); // a router quoting 28 bytes
    QCOMPARE(cell(1, 1), "198.18.2.2");
    QCOMPARE(cell(1, 2), "12");
    fake->clock->now = 4000;
    engine->OnTimer(IDT_ROUND); // hops 1, 3 and 4 again, on the same flow
    QCOMPARE(fake->probe->sent.size(), size_t(7));
    QCOMPARE(fake->probe->opens, 1);
    QCOMPARE(fake->probe->sent[4].ttl, 1);
    QVERIFY(fake->probe->sent[4].data != fake->probe->sent[0].data); // another round's tag
    fake->clock->now = 4010;
    flowAnswer(0, 11, Router(1), DataOnly); // late, to round 1's probe: the error queue's view
    QCOMPARE(cell(0, 2), "3010");
    flowAnswer(5, 11, Router(3), Both);
    QCOMPARE(cell(2, 2), "10");
    QVERIFY(!engine->done());
    flowAnswer(6, 3, kTarget, DataOnly);
    QCOMPARE(column(4), QStringList({ "next", "next", "next", "complete" }));
    QVERIFY(engine->done());
    QCOMPARE(fake->probe->closes, 1);
}

void TestTraceEngine::fixedFlowAnswersThatMustNotCount()
{
    startFlow(4);
    // Another program's flow, or a probe of ours to another port.
    flowAnswer(0, 11, Router(1), Both, FakeProbeSocket::PortOf(2));
    fake->probe->sent[1].port = 65534;
    flowAnswer(1, 11, Router(2), Both);
    // Tags of a round never sent, in the checksum and in the data.
    SentProbe foreign = fake->probe->sent[2];
    const FlowTags tags({ FakeProbeSocket::Source(), foreign.addr, FakeProbeSocket::PortOf(1), kFlowPort });
    foreign.data = tags.DataFor(tags.Tag(9, 2));
    fake->probe->sent.push_back(foreign);
    flowAnswer(4, 11, Router(3), ChecksumOnly);
    flowAnswer(4, 11, Router(3), DataOnly);
    QCOMPARE(column(4), QStringList(4, "tracing..."));
    engine->OnTimer(IDT_ROUND);
    QCOMPARE(fake->probe->sent.size(), size_t(5 + 4)); // nothing untagged: all at once again
}

void TestTraceEngine::fixedFlowUntaggedAnswersFoundOneAtATime()
{
    fake->clock->now = 1000;
    startFlow(5);
    flowAnswer(0, 11, Router(1), ChecksumOnly);
    flowAnswer(1, 11, Router(2), Neither); // quotes no tag: whose is it?
    flowAnswer(2, 11, Router(3), Neither);
    flowAnswer(4, 3, kTarget, ChecksumOnly);
    QCOMPARE(column(4), QStringList({ "next", "tracing...", "tracing...", "tracing...", "complete" }));
    auto tick = [this](uint32_t ms) {
        fake->clock->now = ms;
        emit engine->platform().timer->timeout(IDT_ROUND);
    };
    tick(2000); // hops 2 to 4 may still answer without a tag until the wait (60 s) is over
    QCOMPARE(fake->probe->sent.size(), size_t(5));
    tick(61000); // then the silent rows, the lowest alone
    QCOMPARE(fake->probe->sent.size(), size_t(6));
    QCOMPARE(fake->probe->sent.back().ttl, 2);
    fake->clock->now = 61400;
    flowAnswer(5, 11, Router(2), Neither);
    flowAnswer(5, 11, Router(9), Neither); // a probe is answered once: not this one's
    QCOMPARE(cell(1, 1), "198.18.2.2");
    QCOMPARE(cell(1, 2), "400");
    tick(61400); // answered: on to the next row at once
    QCOMPARE(fake->probe->sent.size(), size_t(7));
    QCOMPARE(fake->probe->sent.back().ttl, 3);
    tick(62000); // hop 3 stays silent: nothing leaves while its answer may come
    QCOMPARE(fake->probe->sent.size(), size_t(7));
    tick(121000); // the round's wait from its first probe is over; hop 3's is not
    QCOMPARE(engine->roundsLeft(), 0);
    QCOMPARE(fake->probe->sent.size(), size_t(7));
    tick(121400); // the last round starts after the row that stayed silent
    QCOMPARE(fake->probe->sent.size(), size_t(8));
    QCOMPARE(fake->probe->sent.back().ttl, 4);
    QCOMPARE(cell(2, 4), "tracing...");
    fake->clock->now = 121407;
    flowAnswer(7, 11, Router(4), Neither);
    QCOMPARE(cell(3, 1), "198.18.4.2");
    QCOMPARE(cell(3, 2), "7");
    tick(121407); // and comes back to it
    QCOMPARE(fake->probe->sent.size(), size_t(9));
    QCOMPARE(fake->probe->sent.back().ttl, 3);
    flowAnswer(8, 11, Router(3), Neither);
    QVERIFY(engine->done());
    QCOMPARE(column(1), QStringList({ "198.18.1.2", "198.18.2.2", "198.18.3.2", "198.18.4.2", "198.18.5.2" }));
}

void TestTraceEngine::fixedFlowUntaggedAnswerOfTheOneRowLeft()
{
    fake->clock->now = 1000;
    startFlow(6);
    flowAnswer(0, 11, Router(1), DataOnly);
    fake->clock->now = 1030;
    flowAnswer(1, 11, Router(2), Neither); // hop 2's, 3's or 4's: each is silent
    flowAnswer(2, 11, Router(3), DataOnly);
    QCOMPARE(cell(1, 4), "tracing...");
    flowAnswer(4, 3, kTarget, DataOnly); // hop 6 no longer matters, hop 4 still does
    QCOMPARE(cell(1, 4), "tracing...");
    flowAnswer(3, 11, Router(4), DataOnly); // only hop 2 is left: the answer was its own
    QCOMPARE(cell(1, 1), "198.18.2.2");
    QCOMPARE(cell(1, 2), "30");
    QVERIFY(engine->done());
    QCOMPARE(fake->probe->sent.size(), size_t(6)); // no probe alone needed
}

void TestTraceEngine::roundSchedule_data()
{
    // Times in milliseconds; the round started at 0 and the longest wait is 3000.
    QTest::addColumn<std::vector<RowWait>>("waits");
    QTest::addColumn<int>("roundsLeft");
    QTest::addColumn<int>("dueMs");
    auto silent = [](int firstMs, int lastMs) { return RowWait { false, -1, firstMs * 1000, lastMs * 1000 }; };
    auto heard = [](int rttMs) { return RowWait { true, rttMs * 1000, 0, 0 }; };
    const struct {
        const char* name;
        std::vector<RowWait> waits;
        int roundsLeft;
        int dueMs;
    } cases[] = {
        { "nothing heard: the longest wait", { silent(0, 0), silent(0, 0) }, 2, 3000 },
        { "everything heard: nothing to wait for", { heard(20), heard(40) }, 2, 0 },
        { "silent router: twice the next hop's round trip", { heard(20), silent(0, 0), heard(60), heard(80) }, 2, 120 },
        { "re-probed: from its latest probe", { heard(20), silent(0, 500), heard(60) }, 2, 620 },
        { "never less than the floor", { heard(1), silent(0, 0), heard(2) }, 2, 100 },
        { "never more than the longest wait", { heard(1), silent(0, 0), heard(2000) }, 2, 3000 },
        { "beyond every answer: three times the longest round trip", { heard(400), heard(50), silent(0, 0) }, 2, 1200 },
        { "beyond every answer: at least a rate limit's refill", { heard(20), silent(0, 0) }, 2, 1000 },
        { "the last round: a second after the first probe", { heard(20), silent(0, 200), heard(60) }, 1, 1000 },
        { "after the last round: half a second from the first probe", { heard(20), silent(0, 200), heard(60) }, 0,
            500 },
        { "after the last round, beyond every answer: the whole wait", { heard(20), silent(0, 200) }, 0, 3000 },
    };
    for (const auto& r : cases)
        QTest::newRow(r.name) << r.waits << r.roundsLeft << r.dueMs;
}

void TestTraceEngine::roundSchedule()
{
    QFETCH(std::vector<RowWait>, waits);
    QFETCH(int, roundsLeft);
    QTEST(int(NextRoundDue(waits, 0, 3000 * 1000, roundsLeft) / 1000), "dueMs");
    QVERIFY(NextRoundDue(waits, 0, 50 * 1000, roundsLeft) <= 50 * 1000); // a short longest wait always wins
}

void TestTraceEngine::closedMidTraceWithOneFlow()
{
    // Real sockets: with the raw socket, the one flow's probe socket asks the ICMP
    // socket on closing whether to hand it over, so the ICMP socket must outlive it
    // (the sanitizer build reports a use after free otherwise).
    HopRowList list;
    auto real = std::make_unique<TraceEngine>(list, TracePlatform::System());
    real->OpenIcmpSocket(1000);
    if (!real->CanReceive())
        QSKIP("no ICMP socket of any kind here");
    TraceParameters p;
    p.m_strHost = QStringLiteral("127.0.0.1");
    p.m_nHops = 3;
    p.m_bFixedFlow = true;
    p.m_bLookups = false;
    real->OnOK(p);
    QVERIFY(!real->done());
    real.reset();
}

QTEST_GUILESS_MAIN(TestTraceEngine)
#include "tst_trace_engine.moc"
