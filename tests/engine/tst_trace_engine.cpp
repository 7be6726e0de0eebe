// The trace engine driven through its handlers, with crafted answers and lookups that
// complete when and how the test says. Real paths are covered by the namespace tests.
#include "fake_platform.h"
#include "icmp_datagram.h"
#include "trace_engine.h"

#include <QSignalSpy>
#include <QtTest>

namespace {
const uint32_t kTarget = htonl(0xC6120502); // 198.18.5.2
const uint32_t kOther = htonl(0xC6120602);

uint32_t Router(int hop)
{
    return htonl(0xC6120002u | uint32_t(hop) << 8); // 198.18.hop.2
}
}

class TestTraceEngine : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<FakePlatform> fake;
    std::unique_ptr<HopRowList> rows;
    std::unique_ptr<TraceEngine> engine;

    void start(const char* host = "198.18.5.2", int hops = 16, int tries = 3)
    {
        engine->m_strHost = QString::fromLatin1(host);
        engine->m_nHops = hops;
        engine->m_nTries = tries;
        engine->OnOK();
    }
    // An answer from `from` quoting the probe for hop `hop` (1-based) to `dst`.
    void answer(int hop, uint8_t type, uint8_t code, uint32_t from, uint32_t dst = kTarget)
    {
        IcmpDatagram d;
        d.type = type;
        d.code = code;
        d.quotedDestination = dst;
        d.quotedPort = uint16_t(65536 - hop);
        fake->icmp->queue.push_back({ d.bytes(), from });
        engine->OnIcmpRead();
    }
    QString cell(int row, int column) const
    {
        return QString::fromStdString(rows->GetItemData(row)->text(column));
    }
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
    void answerFillsItsRowTimedFromLatestProbe();
    void kernelReceiveTimeBeatsHandlerTime();
    void answersThatMustNotCount();
    void laterRoundsProbeOnlySilentHops();
    void lastAnswerEndsTraceAtOnce();
    void timeoutEndingMarksAndTrims();
    void unresolvableHostEndsWithFailureText();
    void hostResolvedEveryRound();
    void zeroHopsCompletesAtOnce();
    void hopCountClampedTo255();
    void singleTryAndForeignTimerId();
    void socketCreationRetriesAreBounded();
    void lookupsFillRowsInAnyOrder();
    void lookupThatCannotStartCountsAsDone();
    void staleLookupsCannotTouchNewTrace();
};

void TestTraceEngine::init()
{
    engine.reset();
    rows = std::make_unique<HopRowList>();
    fake = std::make_unique<FakePlatform>();
    FakePlatform* f = fake.get();
    engine = std::make_unique<TraceEngine>(*rows, std::move(f->platform));
    engine->m_nTimeout = 60000; // rounds are driven by hand
    QVERIFY(engine->OpenIcmpSocket().isEmpty());
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
    QCOMPARE(fake->resolver->forwardLookups, 0); // a dotted address is used as is
    QCOMPARE(fake->probe->sent.size(), size_t(16));
    for (int j = 0; j < 16; ++j) {
        const SentProbe& p = fake->probe->sent[size_t(j)];
        QCOMPARE(p.ttl, j + 1);
        QCOMPARE(p.port, 65535 - j);
        QCOMPARE(p.addr, kTarget);
        QCOMPARE(p.len, size_t(2));
        QCOMPARE(p.socket, 1);
    }
    QCOMPARE(fake->probe->closes, 1);
    QVERIFY(fake->icmp->notify);
    QVERIFY(engine->platform().timer->IsActive());
}

void TestTraceEngine::answerFillsItsRowTimedFromLatestProbe()
{
    fake->clock->now = 5000;
    start();
    fake->clock->now = 5012;
    answer(3, 11, 0, Router(3));
    QCOMPARE(cell(2, 1), "198.18.3.2");
    QCOMPARE(cell(2, 2), "12");
    QCOMPARE(cell(2, 4), "next");
    // Only that row changed.
    QCOMPARE(cell(1, 2), "");
    QCOMPARE(cell(3, 4), "tracing...");

    // A later answer for the same hop overwrites it, still timed from its probe.
    fake->clock->now = 5020;
    answer(3, 3, 3, kTarget);
    QCOMPARE(cell(2, 1), "198.18.5.2");
    QCOMPARE(cell(2, 2), "20");
    QCOMPARE(cell(2, 4), "complete");
}

void TestTraceEngine::kernelReceiveTimeBeatsHandlerTime()
{
    fake->clock->now = 7000;
    start("198.18.5.2", 3);
    IcmpDatagram d;
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
    // Stamped before the send tick was read (sendto() still running): under a tick.
    d.quotedPort = 65535;
    fake->icmp->queue.push_back({ d.bytes(), Router(1), true, 6999 });
    engine->OnIcmpRead();
    QCOMPARE(cell(0, 2), "0");
}

void TestTraceEngine::answersThatMustNotCount()
{
    start("198.18.5.2", 4);
    answer(2, 11, 0, Router(2), kOther); // quotes a probe to another host
    answer(5, 11, 0, Router(5));         // hop beyond the table
    IcmpDatagram ping;
    ping.quotedProtocol = 1;
    fake->icmp->queue.push_back({ ping.bytes(), Router(1) });
    engine->OnIcmpRead();
    auto shortOne = IcmpDatagram {}.bytes();
    shortOne.resize(55);
    fake->icmp->queue.push_back({ shortOne, Router(1) });
    engine->OnIcmpRead();
    engine->OnIcmpRead(); // nothing queued: the read fails
    QCOMPARE(column(2), QStringList(4, ""));
    QCOMPARE(column(4), QStringList(4, "tracing..."));
    QVERIFY(!engine->m_bDone);
}

void TestTraceEngine::laterRoundsProbeOnlySilentHops()
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
    QCOMPARE(rows->GetItemData(0)->dwSendTick, 100u);
    QCOMPARE(rows->GetItemData(5)->dwSendTick, 3100u);
    QCOMPARE(engine->m_nRoundsLeft, 1);
}

void TestTraceEngine::lastAnswerEndsTraceAtOnce()
{
    QSignalSpy finished(engine.get(), &TraceEngine::traceFinished);
    start("198.18.5.2", 3);
    answer(1, 11, 0, Router(1));
    answer(2, 11, 0, Router(2));
    QVERIFY(!engine->m_bDone);
    answer(3, 3, 3, kTarget);
    QVERIFY(engine->m_bDone);
    QVERIFY(!engine->platform().timer->IsActive());
    QVERIFY(!fake->icmp->notify);
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
    QVERIFY(engine->m_bDone);
    QCOMPARE(rows->GetItemCount(), 10);
    QCOMPARE(cell(3, 1), "unknown");
    QCOMPARE(cell(3, 2), "");
    QCOMPARE(cell(3, 4), "failed");
    QCOMPARE(cell(9, 0), "10");
    QCOMPARE(cell(9, 1), "unknown");
    QCOMPARE(cell(9, 4), "failed");
    QCOMPARE(fake->reverse->started.size(), size_t(8)); // none for the silent rows
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

void TestTraceEngine::hostResolvedEveryRound()
{
    fake->resolver->names["path.test"] = kTarget;
    start("path.test", 3);
    answer(1, 11, 0, Router(1));
    fake->resolver->names["path.test"] = kOther; // the name moved
    engine->OnTimer(IDT_ROUND);
    QCOMPARE(fake->resolver->forwardLookups, 2);
    QCOMPARE(engine->target(), "198.18.6.2");
    QCOMPARE(fake->probe->sent.back().addr, kOther);
    answer(2, 11, 0, Router(2), kTarget); // quotes the old address: no longer counts
    QCOMPARE(cell(1, 2), "");
    answer(2, 11, 0, Router(2), kOther);
    QCOMPARE(cell(1, 4), "next");

    // The name disappears in the last round: answered hops keep their answers.
    fake->resolver->names.clear();
    engine->OnTimer(IDT_ROUND);
    QCOMPARE(engine->status(), "Lookup of path.test failed dramatically");
    QCOMPARE(cell(0, 4), "next");
    QCOMPARE(cell(2, 4), "failed");
}

void TestTraceEngine::zeroHopsCompletesAtOnce()
{
    QSignalSpy finished(engine.get(), &TraceEngine::traceFinished);
    start("198.18.5.2", 0);
    QCOMPARE(rows->GetItemCount(), 0);
    QCOMPARE(engine->status(), "Complete.");
    QVERIFY(!engine->platform().timer->IsActive());
    QCOMPARE(finished.count(), 1);
    start("198.18.5.2", -3);
    QCOMPARE(rows->GetItemCount(), 0);
}

void TestTraceEngine::hopCountClampedTo255()
{
    start("198.18.5.2", 300);
    QCOMPARE(rows->GetItemCount(), 255);
    QCOMPARE(fake->probe->sent.back().ttl, 255);
    QCOMPARE(fake->probe->sent.back().port, 65281);
    answer(255, 3, 3, kTarget); // low byte 0x01
    QCOMPARE(cell(254, 4), "complete");
    QCOMPARE(engine->m_nHops, 300); // the setting itself is kept as typed
}

void TestTraceEngine::singleTryAndForeignTimerId()
{
    start("198.18.5.2", 4, 1);
    engine->OnTimer(38); // not the round timer
    QCOMPARE(fake->probe->sent.size(), size_t(4));
    QVERIFY(!engine->m_bDone);
    answer(1, 11, 0, Router(1)); // within the single wait
    engine->OnTimer(IDT_ROUND);
    QVERIFY(engine->m_bDone);
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
    QCOMPARE(engine->m_nRoundsLeft, 1);

    fake->probe->openErrors = { EACCES };
    engine->OnTimer(IDT_ROUND);
    QCOMPARE(fake->probe->sent.size(), size_t(2));
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
    QCOMPARE(handles.at(h1), Router(1));

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
    QVERIFY(!engine->m_bDone);
    QCOMPARE(engine->status(), "Tracing...");
    QVERIFY(engine->platform().timer->IsActive());
}

QTEST_GUILESS_MAIN(TestTraceEngine)
#include "tst_trace_engine.moc"
