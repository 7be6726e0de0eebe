// Host texts a user can type, paste or pass on a command line, however odd, through the
// engine and the system's own resolver: very long, not ASCII, only blanks, with line
// breaks or NUL characters inside. Whatever the text, the trace ends with the failure
// text naming it exactly as given, nothing is probed, and nothing crashes.
//
// The process cuts itself off from the network first (network_isolation.h), so every
// name fails without a query leaving the machine. Where that is impossible, only texts
// that fail before any query could be made are tried, and the others are skipped.
#include "fake_platform.h"
#include "network_isolation.h"
#include "trace_engine.h"

#include <QSignalSpy>
#include <QtTest>

namespace {
QString g_notIsolated; // why the process could not be cut off from the network
}

class TestHostTexts : public QObject {
    Q_OBJECT
private slots:
    void unresolvableTextsFailWithTheirOwnText_data();
    void unresolvableTextsFailWithTheirOwnText();
    void addressesStillResolveWithoutANetwork();
};

void TestHostTexts::unresolvableTextsFailWithTheirOwnText_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<bool>("failsBeforeAnyQuery");
    QString labels;
    while (labels.size() < 100000)
        labels += QStringLiteral("abcdefghi.");
    QTest::newRow("100000 characters") << QString(100000, u'a') << true;
    QTest::newRow("100000 characters of labels") << labels << true;
    // One more than a name may have: 256 bytes as a DNS name, where 255 is the most.
    const QString label(63, u'x');
    QTest::newRow("254 characters") << label + u'.' + label + u'.' + label + u'.' + QString(62, u'x') << true;
    QTest::newRow("empty") << QString() << true;
    QTest::newRow("NUL inside") << QStringLiteral("no-such-host") + QChar(0) + QStringLiteral(".invalid") << true;
    QTest::newRow("non-ASCII") << QStringLiteral("bücher.example") << false;
    QTest::newRow("emoji") << QStringLiteral("\U0001F680\U0001F30D.example") << false;
    QTest::newRow("blanks") << QStringLiteral("   ") << false;
    QTest::newRow("tab") << QStringLiteral("\t") << false;
    QTest::newRow("line break inside") << QStringLiteral("first.invalid\nsecond.invalid") << false;
    QTest::newRow("carriage return") << QStringLiteral("host.invalid\r") << false;
    QTest::newRow("blanks around a name") << QStringLiteral("  no-such-host.invalid  ") << false;
    QTest::newRow("dotted quad too large") << QStringLiteral("198.18.5.256") << false;
}

void TestHostTexts::unresolvableTextsFailWithTheirOwnText()
{
    QFETCH(QString, host);
    QFETCH(bool, failsBeforeAnyQuery);
    if (!failsBeforeAnyQuery && !g_notIsolated.isEmpty())
        QSKIP(qPrintable(QStringLiteral("would ask the network's resolver: ") + g_notIsolated));

    FakePlatform fake;
    fake.platform.resolver = std::make_unique<SystemHostResolver>();
    HopRowList rows;
    TraceEngine engine(rows, std::move(fake.platform));
    QVERIFY(engine.OpenIcmpSocket(60000).isEmpty());
    QSignalSpy finished(&engine, &TraceEngine::traceFinished);
    TraceParameters params;
    params.m_nTimeout = 60000;
    params.m_strHost = host;
    engine.OnOK(params);
    QTRY_VERIFY_WITH_TIMEOUT(engine.done(), 30000);

    QVERIFY(engine.resolveFailed());
    QCOMPARE(engine.status(), QStringLiteral("Lookup of ") + host + QStringLiteral(" failed dramatically"));
    QCOMPARE(engine.target(), QStringLiteral("unknown"));
    QCOMPARE(rows.GetItemCount(), 1);
    QCOMPARE(rows.GetItemData(0)->pszAddress, std::string("unknown"));
    QCOMPARE(rows.GetItemData(0)->pszResult, std::string("failed"));
    QVERIFY(fake.probe->sent.empty());
    QCOMPARE(finished.count(), 1);
}

void TestHostTexts::addressesStillResolveWithoutANetwork()
{
    // Dotted addresses and /etc/hosts never need the network; they must still work when
    // it is missing, so the failures above are the texts' own.
    FakePlatform fake;
    fake.platform.resolver = std::make_unique<SystemHostResolver>();
    HopRowList rows;
    TraceEngine engine(rows, std::move(fake.platform));
    QVERIFY(engine.OpenIcmpSocket(60000).isEmpty());
    TraceParameters params;
    params.m_nTimeout = 60000;
    params.m_nHops = 2;
    params.m_family = AddressChoice::V4;
    for (const auto& [host, address] : { std::pair { "198.18.5.2", "198.18.5.2" }, { "localhost", "127.0.0.1" } }) {
        params.m_strHost = QString::fromLatin1(host);
        engine.OnOK(params);
        QTRY_COMPARE_WITH_TIMEOUT(engine.target(), QString::fromLatin1(address), 30000);
        QVERIFY2(!engine.resolveFailed(), host);
        QCOMPARE(engine.status(), QStringLiteral("Tracing..."));
    }
}

int main(int argc, char** argv)
{
    g_notIsolated = network_isolation::Isolate();
    QCoreApplication app(argc, argv);
    if (!g_notIsolated.isEmpty())
        qWarning("not cut off from the network: %s", qPrintable(g_notIsolated));
    TestHostTexts test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_host_texts.moc"
