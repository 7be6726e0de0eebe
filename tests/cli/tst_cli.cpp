// The command line and the printed result, as scripts rely on them.
#include "cli_options.h"
#include "report.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

class TestCli : public QObject {
    Q_OBJECT
private slots:
    void options();
    void usageErrors_data();
    void usageErrors();
    void jsonIsValidAndTyped();
    void csvQuotesWhatNeedsIt();
    void textAlignsColumns();
};

void TestCli::options()
{
    CliOptions o;
    QString error;
    QVERIFY(ParseCliOptions({ "example.test" }, &o, &error));
    QCOMPARE(o.host, "example.test");
    QCOMPARE(o.tries, 3);
    QCOMPARE(o.hops, 16);
    QCOMPARE(o.timeout, 3000);
    QVERIFY(o.lookups);
    QCOMPARE(o.format, ReportFormat::Text);

    CliOptions p;
    QVERIFY(ParseCliOptions({ "-t1", "-m", " 30 ", "-w", "-5", "-n", "--csv", "198.18.5.2" }, &p, &error));
    QCOMPARE(p.tries, 1);
    QCOMPARE(p.hops, 30);
    QCOMPARE(p.timeout, -5);
    QVERIFY(!p.lookups);
    QCOMPARE(p.format, ReportFormat::Csv);

    CliOptions q;
    QVERIFY(ParseCliOptions({ "--json", "--", "-odd-name" }, &q, &error));
    QCOMPARE(q.host, "-odd-name");
    QCOMPARE(q.format, ReportFormat::Json);

    QVERIFY(!ParseCliOptions({ "--help" }, &q, &error));
    QVERIFY(error.isEmpty());
}

void TestCli::usageErrors_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("says");
    QTest::newRow("no host") << QStringList {} << "no HOST";
    QTest::newRow("two hosts") << QStringList { "a", "b" } << "one HOST only";
    QTest::newRow("unknown option") << QStringList { "-x", "a" } << "unknown option '-x'";
    QTest::newRow("missing value") << QStringList { "a", "-t" } << "-t needs a number";
    QTest::newRow("not a number") << QStringList { "-m", "4 2", "a" } << "'4 2' is not an integer";
    QTest::newRow("minus zero") << QStringList { "-w", "-0", "a" } << "not an integer";
    QTest::newRow("both formats") << QStringList { "--json", "--csv", "a" } << "exclude each other";
}

void TestCli::usageErrors()
{
    QFETCH(QStringList, args);
    QFETCH(QString, says);
    CliOptions o;
    QString error;
    QVERIFY(!ParseCliOptions(args, &o, &error));
    QVERIFY2(error.contains(says), qPrintable(error));
}

namespace {
void Fill(HopRowList& rows)
{
    rows.InsertHopRow("1", "198.18.1.2", "3", "r1 \"edge\", west", "next", 0, 0);
    rows.InsertHopRow("2", "unknown", "", "", "failed", 0, 1);
    rows.InsertHopRow("3", "198.18.5.2", "-10", "ziel.bücher.test", "complete", 0, 2);
}
}

void TestCli::jsonIsValidAndTyped()
{
    HopRowList rows;
    Fill(rows);
    const std::string out = FormatReport(rows, { "ta\"rget\n", "198.18.5.2", "Complete." }, ReportFormat::Json);
    QJsonParseError err;
    const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(out), &err).object();
    QCOMPARE(err.error, QJsonParseError::NoError);
    QCOMPARE(o["host"].toString(), "ta\"rget\n");
    QCOMPARE(o["target"].toString(), "198.18.5.2");
    QCOMPARE(o["status"].toString(), "Complete.");
    const QJsonArray hops = o["hops"].toArray();
    QCOMPARE(hops.size(), 3);
    QCOMPARE(hops[0]["hop"].toInt(), 1);
    QCOMPARE(hops[0]["time_ms"].toInt(), 3);
    QCOMPARE(hops[0]["host"].toString(), "r1 \"edge\", west");
    QVERIFY(hops[1]["time_ms"].isNull());
    QCOMPARE(hops[2]["time_ms"].toInt(), -10);
    QCOMPARE(hops[2]["host"].toString(), QString::fromUtf8("ziel.bücher.test"));
}

void TestCli::csvQuotesWhatNeedsIt()
{
    HopRowList rows;
    Fill(rows);
    const std::string out = FormatReport(rows, {}, ReportFormat::Csv);
    QCOMPARE(QString::fromStdString(out),
        QString::fromUtf8("Hop,IP address,Time,Host name,Result\n"
                          "1,198.18.1.2,3,\"r1 \"\"edge\"\", west\",next\n"
                          "2,unknown,,,failed\n"
                          "3,198.18.5.2,-10,ziel.bücher.test,complete\n"));
}

void TestCli::textAlignsColumns()
{
    HopRowList rows;
    Fill(rows);
    const QStringList lines = QString::fromStdString(FormatReport(rows, { "h", "198.18.5.2", "Complete." }, ReportFormat::Text))
                                  .split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 6);
    QCOMPARE(lines[0], "Target: 198.18.5.2");
    QVERIFY(lines[1].startsWith("Hop  IP address  Time"));
    // Right-aligned address and time columns end in the same place on every line.
    const qsizetype timeEnd = lines[1].indexOf("Time") + 4;
    QCOMPARE(lines[2].indexOf("3 ") + 1, timeEnd);
    QCOMPARE(lines[4].indexOf("-10") + 3, timeEnd);
    QVERIFY(lines[3].endsWith("failed"));
    QCOMPARE(lines[5], "Complete.");
}

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
