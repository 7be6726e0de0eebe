// The real reverse resolver: answers arrive on the UI thread, cancelled ones never do,
// and one that outlives the resolver harms nothing.
#include "reverse_resolver.h"

#include <QSignalSpy>
#include <QtTest>
#include <arpa/inet.h>

class TestReverseResolver : public QObject {
    Q_OBJECT
private slots:
    void answersOnTheUiThread();
    void cancelledLookupNeverReports();
    void resolverGoneBeforeAnswer();
};

void TestReverseResolver::answersOnTheUiThread()
{
    ThreadedReverseResolver resolver;
    QThread* uiThread = QThread::currentThread();
    QThread* reportedOn = nullptr;
    connect(&resolver, &ReverseResolver::lookupDone, this, [&] { reportedOn = QThread::currentThread(); });
    QSignalSpy done(&resolver, &ReverseResolver::lookupDone);
    const int loopback = resolver.Start(htonl(INADDR_LOOPBACK));
    const int unnamed = resolver.Start(htonl(0xC6130063)); // 198.19.0.99: nobody's name
    QVERIFY(loopback > 0);
    QVERIFY(unnamed > 0 && unnamed != loopback);
    QTRY_COMPARE_WITH_TIMEOUT(done.count(), 2, 30000);
    QCOMPARE(reportedOn, uiThread);
    for (const auto& args : done) {
        if (args[0].toInt() == loopback) {
            QCOMPARE(args[1].toInt(), 0);
            QVERIFY(!args[2].toByteArray().isEmpty());
        } else {
            QVERIFY(args[1].toInt() != 0);
        }
    }
}

void TestReverseResolver::cancelledLookupNeverReports()
{
    ThreadedReverseResolver resolver;
    QSignalSpy done(&resolver, &ReverseResolver::lookupDone);
    const int cancelled = resolver.Start(htonl(INADDR_LOOPBACK));
    const int kept = resolver.Start(htonl(INADDR_LOOPBACK));
    resolver.Cancel(cancelled);
    QTRY_COMPARE_WITH_TIMEOUT(done.count(), 1, 30000);
    QCOMPARE(done.first()[0].toInt(), kept);
    QTest::qWait(100);
    QCOMPARE(done.count(), 1);
}

void TestReverseResolver::resolverGoneBeforeAnswer()
{
    auto resolver = std::make_unique<ThreadedReverseResolver>();
    for (int i = 0; i < 20; ++i)
        QVERIFY(resolver->Start(htonl(INADDR_LOOPBACK)) > 0);
    resolver.reset();
    QTest::qWait(200); // the lookup threads finish into nothing
}

QTEST_GUILESS_MAIN(TestReverseResolver)
#include "tst_reverse_resolver.moc"
