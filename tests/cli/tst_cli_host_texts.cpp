// The terminal tracer given host texts that resolve nowhere, however odd: it must end
// with exit status 1, name the text exactly as given in its message and its report, and
// never crash. The tracer runs as built; this process cuts itself (and so the tracer)
// off from the network first, so no query leaves the machine (network_isolation.h).
#include "network_isolation.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>

namespace {
QString g_notIsolated;

struct Outcome {
    int exitCode = -1;
    QProcess::ExitStatus exitStatus = QProcess::CrashExit;
    QString out;
    QString err;
};

Outcome RunCli(const QStringList& args)
{
    QProcess cli;
    cli.start(QStringLiteral(HOPLANTERN_CLI), args);
    Outcome o;
    if (!cli.waitForFinished(120000))
        return o;
    o.exitStatus = cli.exitStatus();
    o.exitCode = cli.exitCode();
    o.out = QString::fromUtf8(cli.readAllStandardOutput());
    o.err = QString::fromUtf8(cli.readAllStandardError());
    return o;
}
} // namespace

class TestCliHostTexts : public QObject {
    Q_OBJECT
private slots:
    void failsNamingTheText_data();
    void failsNamingTheText();
};

void TestCliHostTexts::failsNamingTheText_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<bool>("failsBeforeAnyQuery");
    QTest::addColumn<bool>("json");
    const QString label(63, u'x');
    const QString tooLong = label + u'.' + label + u'.' + label + u'.' + QString(62, u'x');
    for (const bool json : { false, true }) {
        const char* format = json ? " (JSON)" : " (text)";
        auto row = [&](const char* name) -> QTestData& {
            return QTest::newRow(qPrintable(QString::fromLatin1(name) + QString::fromLatin1(format)));
        };
        row("100000 characters") << QString(100000, u'a') << true << json;
        row("254 characters") << tooLong << true << json;
        row("empty") << QString() << true << json;
        row("non-ASCII") << QStringLiteral("bücher.example") << false << json;
        row("emoji") << QStringLiteral("\U0001F680.example") << false << json;
        row("blanks") << QStringLiteral("   ") << false << json;
        row("line break inside") << QStringLiteral("first.invalid\nsecond.invalid") << false << json;
        row("quotes and backslashes") << QStringLiteral("\"a\\b\".invalid") << false << json;
        row("looks like an option") << QStringLiteral("-n") << false << json;
    }
}

void TestCliHostTexts::failsNamingTheText()
{
    QFETCH(QString, host);
    QFETCH(bool, failsBeforeAnyQuery);
    QFETCH(bool, json);
    if (!failsBeforeAnyQuery && !g_notIsolated.isEmpty())
        QSKIP(qPrintable(QStringLiteral("would ask the network's resolver: ") + g_notIsolated));

    QStringList args { "-n", "-t", "1", "-w", "100" };
    if (json)
        args << "--json";
    args << "--" << host;
    const Outcome o = RunCli(args);
    QCOMPARE(o.exitStatus, QProcess::NormalExit);
    if (o.exitCode == 3)
        QSKIP(qPrintable(QStringLiteral("the tracer cannot receive ICMP here: ") + o.err.left(200)));
    if (host.trimmed().isEmpty()) { // white space is no host
        QCOMPARE(o.exitCode, 2);
        QVERIFY(o.err.startsWith(QStringLiteral("hoplantern-cli: no HOST given\n")));
        return;
    }
    // Said once: in the JSON report, or else on stderr.
    const QString status = QStringLiteral("Lookup of ") + host + QStringLiteral(" failed dramatically");
    QCOMPARE(o.exitCode, 1);
    if (json) {
        QCOMPARE(o.err, QString());
        QJsonParseError error;
        const QJsonObject report = QJsonDocument::fromJson(o.out.toUtf8(), &error).object();
        QCOMPARE(error.error, QJsonParseError::NoError);
        QCOMPARE(report["host"].toString(), host);
        QVERIFY(report["target"].isNull());
        QVERIFY(report["family"].isNull()); // none asked for, none found
        QCOMPARE(report["status"].toString(), status);
        QCOMPARE(report["hops"].toArray().size(), 0);
    } else {
        QCOMPARE(o.err, status + u'\n');
        QCOMPARE(o.out, QString());
    }
}

int main(int argc, char** argv)
{
    g_notIsolated = network_isolation::Isolate();
    QCoreApplication app(argc, argv);
    if (!g_notIsolated.isEmpty())
        qWarning("not cut off from the network: %s", qPrintable(g_notIsolated));
    TestCliHostTexts test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_cli_host_texts.moc"
