// The real resolvers: address texts read at once, names and reverse lookups answered on
// the UI thread, cancelled lookups never, and one that outlives the resolver harms nothing.
#include "host_resolver.h"
#include "reverse_resolver.h"

#include <future>
#include <map>
#include <sys/socket.h>

#include <QSignalSpy>
#include <QtTest>
#include <arpa/inet.h>

class TestResolvers : public QObject {
    Q_OBJECT
private slots:
    void addressTexts_data();
    void addressTexts();
    void namesResolveOnTheUiThread();
    void answersOnTheUiThread();
    void cancelledLookupNeverReports();
    void resolverGoneBeforeAnswer();
    void lookupsThatHangUseBoundedThreads();
};

void TestResolvers::addressTexts_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("address"); // empty: no address
    const char* const rows[][3] = {
        { "dotted", "198.18.5.2", "198.18.5.2" },
        { "classic short form", "10.1", "10.0.0.1" },
        { "IPv6", "2001:db8:0:0::1", "2001:db8::1" },
        { "IPv6 in brackets", "[2001:db8::1]", "2001:db8::1" },
        { "IPv6 with numeric zone", "fe80::1%1", "fe80::1" },
        { "IPv6 with unknown zone", "fe80::1%nosuchif0", "" },
        { "name", "router.path.test", "" },
        { "empty", "", "" },
    };
    for (const auto& [name, text, address] : rows)
        QTest::newRow(name) << QString::fromLatin1(text) << QString::fromLatin1(address);
    QTest::newRow("NUL inside") << QString::fromLatin1("198.18.5.2\0junk", 15) << "";
}

void TestResolvers::addressTexts()
{
    QFETCH(QString, text);
    QTEST(QString::fromStdString(HostResolver::ParseAddress(text.toStdString()).ToText()), "address");
}

void TestResolvers::namesResolveOnTheUiThread()
{
    SystemHostResolver resolver;
    std::map<int, NetAddress> answers;
    QThread* reportedOn = nullptr;
    connect(&resolver, &HostResolver::resolved, this, [&](int id, NetAddress a) {
        answers[id] = a;
        reportedOn = QThread::currentThread();
    });
    resolver.Resolve(1, "localhost", AF_INET);
    resolver.Resolve(2, "::1", AF_INET6);
    resolver.Resolve(3, "", AF_UNSPEC);
    QTRY_COMPARE_WITH_TIMEOUT(answers.size(), size_t(3), 30000);
    QCOMPARE(reportedOn, QThread::currentThread());
    QCOMPARE(answers[1].ToText(), std::string("127.0.0.1"));
    QCOMPARE(answers[2].ToText(), std::string("::1"));
    QVERIFY(!answers[3].valid());
}

void TestResolvers::answersOnTheUiThread()
{
    ThreadedReverseResolver resolver;
    QThread* uiThread = QThread::currentThread();
    QThread* reportedOn = nullptr;
    connect(&resolver, &ReverseResolver::lookupDone, this, [&] { reportedOn = QThread::currentThread(); });
    QSignalSpy done(&resolver, &ReverseResolver::lookupDone);
    const int loopback = resolver.Start(NetAddress::FromV4(htonl(INADDR_LOOPBACK)));
    const int unnamed = resolver.Start(NetAddress::FromV4(htonl(0xC6130063))); // 198.19.0.99: nobody's name
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

void TestResolvers::cancelledLookupNeverReports()
{
    ThreadedReverseResolver resolver;
    QSignalSpy done(&resolver, &ReverseResolver::lookupDone);
    const int cancelled = resolver.Start(NetAddress::FromV4(htonl(INADDR_LOOPBACK)));
    const int kept = resolver.Start(NetAddress::FromV4(htonl(INADDR_LOOPBACK)));
    resolver.Cancel(cancelled);
    QTRY_COMPARE_WITH_TIMEOUT(done.count(), 1, 30000);
    QCOMPARE(done.first()[0].toInt(), kept);
    QTest::qWait(100);
    QCOMPARE(done.count(), 1);
}

void TestResolvers::resolverGoneBeforeAnswer()
{
    auto resolver = std::make_unique<ThreadedReverseResolver>();
    for (int i = 0; i < 20; ++i)
        QVERIFY(resolver->Start(NetAddress::FromV4(htonl(INADDR_LOOPBACK))) > 0);
    resolver.reset();
    QTest::qWait(200); // the lookup threads finish into nothing
}

void TestResolvers::lookupsThatHangUseBoundedThreads()
{
    // A name server that does not answer holds every worker; the lookups beyond them
    // wait their turn instead of starting a thread each.
    auto threads
        = [] { return QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size(); };
    const qsizetype before = threads();
    std::promise<void> answer;
    std::shared_future<void> answered = answer.get_future().share();
    QObject owner;
    int delivered = 0;
    BackgroundCalls calls(&owner, 4);
    for (int i = 0; i < 255; ++i) {
        QVERIFY(calls.Run(
            [answered] {
                answered.wait();
                return 0;
            },
            [&delivered](int) { ++delivered; }));
    }
    QVERIFY2(threads() <= before + 4, qPrintable(QString::number(threads() - before)));
    answer.set_value();
    QTRY_COMPARE_WITH_TIMEOUT(delivered, 255, 30000);
}

QTEST_GUILESS_MAIN(TestResolvers)
#include "tst_resolvers.moc"
