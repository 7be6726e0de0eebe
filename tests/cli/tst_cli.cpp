// The command line and the printed result, as scripts rely on them.
#include "cli_options.h"
#include "progress_line.h"
#include "report.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

#include <arpa/inet.h>

#include <string_view>

class TestCli : public QObject {
    Q_OBJECT
private slots:
    void options_data();
    void options();
    void helpAndVersion_data();
    void helpAndVersion();
    void usageErrors_data();
    void usageErrors();
    void targetsFile_data();
    void targetsFile();
    void jsonIsValidAndTyped();
    void reportSaysHowTheTraceEnded_data();
    void reportSaysHowTheTraceEnded();
    void progressCountsTheHopsUpToTheTarget_data();
    void progressCountsTheHopsUpToTheTarget();
    void manPagesListTheProgramsOptions_data();
    void manPagesListTheProgramsOptions();
    void watchBeyondTheOpenFileLimitIsRefused_data();
    void watchBeyondTheOpenFileLimitIsRefused();
    void csvQuotesWhatNeedsIt();
    void textAlignsColumns();
};

void TestCli::options_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("host");
    QTest::addColumn<QList<int>>("numbers"); // tries, hops, timeout
    QTest::addColumn<QString>("flags"); // n: no lookups, 4/6: family, f: fixed flow, w: fixed wait
    QTest::addColumn<ReportFormat>("format");
    QTest::newRow("defaults") << QStringList { "example.test" } << "example.test" << QList { 3, 16, 3000 } << ""
                              << ReportFormat::Text;
    QTest::newRow("short, joined and apart")
        << QStringList { "-t1", "-m", " 30 ", "-w", "5", "-n", "--csv", "198.18.5.2" } << "198.18.5.2"
        << QList { 1, 30, 5 } << "n" << ReportFormat::Csv;
    QTest::newRow("the ends of the ranges") << QStringList { "-t", "1", "-m", "255", "-w", "1", "h" } << "h"
                                            << QList { 1, 255, 1 } << "" << ReportFormat::Text;
    QTest::newRow("long, with = and apart")
        << QStringList { "--tries=2", "--max-hops", "40", "--wait=250", "--numeric", "--json", "h" } << "h"
        << QList { 2, 40, 250 } << "n" << ReportFormat::Json;
    QTest::newRow("after the host, last one counts") << QStringList { "h", "-t", "1", "--tries", "5", "-4" } << "h"
                                                     << QList { 5, 16, 3000 } << "4" << ReportFormat::Text;
    QTest::newRow("compacted switches") << QStringList { "-6nt7", "h" } << "h" << QList { 7, 16, 3000 } << "6n"
                                        << ReportFormat::Text;
    QTest::newRow("long family and fixed") << QStringList { "--ipv6", "--fixed-wait", "--fixed-flow", "h" } << "h"
                                           << QList { 3, 16, 3000 } << "6wf" << ReportFormat::Text;
    QTest::newRow("blanks around the host")
        << QStringList { " 198.18.5.2\n" } << "198.18.5.2" << QList { 3, 16, 3000 } << "" << ReportFormat::Text;
    QTest::newRow("a URL") << QStringList { "-4", "https://host.example:8443/page" } << "host.example"
                           << QList { 3, 16, 3000 } << "4" << ReportFormat::Text;
    QTest::newRow("-- ends the options") << QStringList { "--json", "--", "-odd-name" } << "-odd-name"
                                         << QList { 3, 16, 3000 } << "" << ReportFormat::Json;
}

void TestCli::options()
{
    QFETCH(QStringList, args);
    QFETCH(QString, host);
    QFETCH(QList<int>, numbers);
    QFETCH(QString, flags);
    QFETCH(ReportFormat, format);
    CliOptions o;
    QString error;
    QVERIFY2(ParseCliOptions(args, &o, &error), qPrintable(error));
    QCOMPARE(o.host, host);
    QCOMPARE((QList { o.tries, o.hops, o.timeout }), numbers);
    QCOMPARE(o.lookups, !flags.contains('n'));
    QCOMPARE(o.family,
        flags.contains('4')       ? AddressChoice::V4
            : flags.contains('6') ? AddressChoice::V6
                                  : AddressChoice::Auto);
    QCOMPARE(o.fixedWait, flags.contains('w'));
    QCOMPARE(o.fixedFlow, flags.contains('f'));
    QCOMPARE(o.format, format);
    QVERIFY(!o.version);
}

void TestCli::helpAndVersion_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("version");
    QTest::newRow("--help with a host") << QStringList { "a", "--help" } << false;
    QTest::newRow("-V") << QStringList { "-V" } << true;
}

void TestCli::helpAndVersion()
{
    QFETCH(QStringList, args);
    QFETCH(bool, version);
    CliOptions o;
    QString error = "stale";
    QVERIFY(!ParseCliOptions(args, &o, &error));
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(o.version, version);
    QCOMPARE(CliVersion(), "hoplantern-cli " PROJECT_VERSION "\n"); // the version from project(VERSION)
}

void TestCli::usageErrors_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("says");
    QTest::newRow("no host") << QStringList {} << "no HOST";
    QTest::newRow("two hosts") << QStringList { "a", "b" } << "one HOST only";
    QTest::newRow("blanks only") << QStringList { " \t" } << "no HOST";
    QTest::newRow("unknown option") << QStringList { "-x", "a" } << "unknown option '-x'";
    QTest::newRow("unknown long option") << QStringList { "a", "--trys=3" } << "unknown option '--trys'";
    QTest::newRow("missing value") << QStringList { "a", "-t" } << "option -t needs a number";
    QTest::newRow("missing value, compacted") << QStringList { "a", "-nm" } << "option -m needs a number";
    QTest::newRow("not a number") << QStringList { "-m", "4 2", "a" } << "option -m: '4 2' is not an integer";
    QTest::newRow("not a number, long") << QStringList { "--max-hops=x", "a" }
                                        << "option --max-hops: 'x' is not an integer";
    QTest::newRow("an earlier bad value") << QStringList { "-t", "z", "--tries", "2", "a" } << "option -t: 'z' is not";
    QTest::newRow("no hops") << QStringList { "-m", "0", "a" } << "option -m: 0 is out of range (1 to 255)";
    QTest::newRow("hops beyond a TTL") << QStringList { "-m", "256", "a" }
                                       << "option -m: 256 is out of range (1 to 255)";
    QTest::newRow("no wait") << QStringList { "-w", "0", "a" } << "option -w: 0 is out of range (at least 1)";
    QTest::newRow("no tries") << QStringList { "-t0", "a" } << "option -t: 0 is out of range (at least 1)";
    QTest::newRow("an earlier value out of range")
        << QStringList { "-m", "300", "-m", "30", "a" } << "option -m: 300 is out of range";
    QTest::newRow("both formats") << QStringList { "--json", "--csv", "a" } << "--json and --csv exclude each other";
    QTest::newRow("both families") << QStringList { "-4", "--ipv6", "a" } << "-4 and -6 exclude each other";
    QTest::newRow("IPv4 address with -6")
        << QStringList { "-6", "198.18.5.2" } << "'198.18.5.2' is an IPv4 address, but -6 asks for IPv6";
    QTest::newRow("IPv6 address with -4")
        << QStringList { "-4", "[2001:db8::1]" } << "'[2001:db8::1]' is an IPv6 address, but -4 asks for IPv4";
    QTest::newRow("value to a switch") << QStringList { "--json=yes", "a" } << "--json";
    QTest::newRow("no interval") << QStringList { "--watch", "--interval", "0", "a" }
                                 << "'0' is not a number of seconds";
    QTest::newRow("interval not a number")
        << QStringList { "--watch", "--interval=1s", "a" } << "'1s' is not a number of seconds above 0";
    QTest::newRow("no rounds") << QStringList { "--watch", "--count", "0", "a" } << "'0' is not a whole number";
    QTest::newRow("count without watch") << QStringList { "--count", "5", "a" } << "--count goes with --watch";
    QTest::newRow("html without watch") << QStringList { "--html", "r.html", "a" } << "--html goes with --watch";
    QTest::newRow("html without a file") << QStringList { "--watch", "a", "--html" }
                                         << "option --html needs a file name";
    QTest::newRow("html with an empty name")
        << QStringList { "--watch", "--html=", "a" } << "option --html needs a file name";
    QTest::newRow("tries with watch") << QStringList { "--watch", "-t", "5", "a" }
                                      << "--tries does not go with --watch";
    QTest::newRow("a host twice") << QStringList { "--watch", "a", "b", "a" } << "a is given twice";
    QTest::newRow("targets without watch")
        << QStringList { "--targets", "/dev/null", "a" } << "--targets goes with --watch";
    QTest::newRow("no targets file") << QStringList { "--watch", "--targets", "/nonexistent/t" }
                                     << "/nonexistent/t: cannot be read: No such file or directory";
    QTest::newRow("an empty targets file")
        << QStringList { "--watch", "--targets", "/dev/null" } << "/dev/null: lists no target";
    QTest::newRow("html with several hosts")
        << QStringList { "--watch", "--html", "r.html", "a", "b" } << "option --html goes with one HOST";
    QTest::newRow("listen without watch")
        << QStringList { "--listen", "127.0.0.1:4677", "a" } << "--listen goes with --watch";
    QTest::newRow("listen at a name") << QStringList { "--watch", "--listen", "localhost:4677", "a" }
                                      << "option --listen: 'localhost:4677' is not ADDRESS:PORT";
    QTest::newRow("listen at IPv6 without brackets")
        << QStringList { "--watch", "--listen=::1:4677", "a" } << "'::1:4677' is not ADDRESS:PORT";
    QTest::newRow("listen on port 0") << QStringList { "--watch", "--listen=[::1]:0", "a" }
                                      << "'[::1]:0' is not ADDRESS:PORT";
    QTest::newRow("listen without a port")
        << QStringList { "--watch", "a", "--listen" } << "option --listen needs ADDRESS:PORT";
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

void TestCli::targetsFile_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("found"); // "host=label host ..." or the error
    QTest::newRow("comments, blanks, labels, CRLF") << "# paths to watch\n\n  198.18.5.2 \tname=edge-1 # the "
                                                       "edge\r\n[2001:db8::2]\n\t# indented\nh.example name=a.b_c\n"
                                                    << "198.18.5.2=edge-1 [2001:db8::2]= h.example=a.b_c";
    QTest::newRow("a # inside a word is no comment") << "h#1\n"
                                                     << "h#1=";
    QTest::newRow("label first") << "a\nname=x a\n"
                                 << "t:2: a host comes first, then name=LABEL";
    QTest::newRow("a third word") << "a name=x b\n"
                                  << "t:1: 'b' is not name=LABEL";
    QTest::newRow("a misspelt name=") << "a nmae=x\n"
                                      << "t:1: 'nmae=x' is not name=LABEL";
    QTest::newRow("name= twice") << "a name=x name=y\n"
                                 << "t:1: name= given twice";
    QTest::newRow("empty label") << "a name=\n"
                                 << "t:1: the label '' is not 1 to 64 letters, digits, '.', '_' or '-'";
    QTest::newRow("label with a blank-free oddity")
        << "a name=x/y\n"
        << "t:1: the label 'x/y' is not 1 to 64 letters, digits, '.', '_' or '-'";
    QTest::newRow("label too long") << "a name=" + QString(65, 'x') + "\n"
                                    << "t:1: the label '" + QString(65, 'x')
            + "' is not 1 to 64 letters, digits, '.', '_' or '-'";
    QTest::newRow("host twice") << "a\n\n# c\nb\na name=z\n"
                                << "t:5: a is listed already on line 1";
    QTest::newRow("host from the command line") << "cli\n"
                                                << "t:1: cli is listed already on the command line";
    QTest::newRow("label twice") << "a name=x\nb name=x\n"
                                 << "t:2: the label x is given already on line 1";
}

void TestCli::targetsFile()
{
    QFETCH(QString, text);
    QFETCH(QString, found);
    // A host from the command line comes first, as with --watch cli --targets t.
    std::vector<WatchTarget> targets { { "cli", "", "" } };
    QString error;
    const bool ok = ParseTargets(text, "t", &targets, &error);
    QCOMPARE(ok ? QString() : error, found.startsWith("t:") ? found : QString());
    if (!ok) {
        QCOMPARE(targets.size(), size_t(1)); // nothing taken from a file with a bad line
        return;
    }
    QStringList got;
    for (size_t i = 1; i < targets.size(); ++i)
        got << targets[i].host + '=' + targets[i].name;
    QCOMPARE(got.join(' '), found);
}

namespace {
// Rows as a trace leaves them: answers through the engine's own row operation.
void Answer(HopRowList& rows, int row, uint32_t address, const char* result, int timeMs, int64_t rttUs)
{
    const bool target = std::string_view(result) == "complete";
    rows.UpdateHopRow(
        HopAnswer { NetAddress::FromV4(htonl(address)), result, target, 1000, uint32_t(1000 + timeMs), rttUs }, row);
}

// Three rows; the third is the target's answer, or a router's when `reached` is false.
void Fill(HopRowList& rows, bool reached = true)
{
    for (int i = 0; i < 3; ++i)
        rows.InsertHopRow(std::to_string(i + 1).c_str(), "", "", "", "tracing...", i);
    Answer(rows, 0, 0xC6120102, "next", 3, 2718);
    rows.UpdateHopRow(nullptr, nullptr, nullptr, "r1 \"edge\", west", nullptr, 0);
    rows.UpdateHopRow(nullptr, "unknown", nullptr, nullptr, "failed", 1);
    Answer(rows, 2, 0xC6120502, reached ? "complete" : "next", -10, -1);
    rows.UpdateHopRow(nullptr, nullptr, nullptr, "ziel.bücher.test", nullptr, 2);
}
} // namespace

void TestCli::jsonIsValidAndTyped()
{
    HopRowList rows;
    Fill(rows);
    rows.InsertHopRow("4", "198.18.5.2", "x", "bad\xff\xfe name\x01", "complete", 3);
    const QByteArray out = QByteArray::fromStdString(
        FormatReport(rows, { "ta\"rget\n", "198.18.5.2", "Complete.", 4 }, ReportFormat::Json));
    QVERIFY(out.endsWith("}\n"));
    QCOMPARE(QString::fromUtf8(out).toUtf8(), out); // valid UTF-8 throughout
    QJsonParseError err;
    const QJsonObject o = QJsonDocument::fromJson(out, &err).object();
    QCOMPARE(err.error, QJsonParseError::NoError);
    QCOMPARE(o["host"].toString(), "ta\"rget\n");
    QCOMPARE(o["target"].toString(), "198.18.5.2");
    QCOMPARE(o["family"], QJsonValue(4));
    QCOMPARE(o["status"].toString(), "Complete.");
    QCOMPARE(o["reached"], QJsonValue(true));
    const QJsonArray hops = o["hops"].toArray();
    QCOMPARE(hops.size(), 4);
    QCOMPARE(hops[0]["hop"], QJsonValue(1));
    QCOMPARE(hops[0]["time_ms"], QJsonValue(3));
    QCOMPARE(hops[0]["host"].toString(), "r1 \"edge\", west");
    QCOMPARE(hops[0]["result"].toString(), "next");
    QCOMPARE(hops[0]["rtt_ms"], QJsonValue(2.718));
    QVERIFY(hops[1]["address"].isNull()); // the table's "unknown" is no address
    QVERIFY(hops[1]["time_ms"].isNull());
    QCOMPARE(hops[2]["time_ms"], QJsonValue(-10));
    QVERIFY(hops[2]["rtt_ms"].isNull());
    QCOMPARE(hops[2]["host"].toString(), QString::fromUtf8("ziel.bücher.test"));
    QVERIFY(hops[3]["time_ms"].isNull());
    QCOMPARE(hops[3]["host"].toString(), QString::fromUtf8("bad\uFFFD\uFFFD name\x01"));

    const QByteArray v6
        = QByteArray::fromStdString(FormatReport(rows, { "h", "2001:db8::5", "", 6 }, ReportFormat::Json));
    QCOMPARE(QJsonDocument::fromJson(v6).object()["family"], QJsonValue(6));
}

void TestCli::reportSaysHowTheTraceEnded_data()
{
    QTest::addColumn<ReportFormat>("format");
    QTest::addColumn<bool>("reached"); // the rows hold the target's answer
    QTest::addColumn<bool>("resolved"); // false: the lookup failed before any probe went out
    QTest::addColumn<int>("family"); // as the caller fills it in
    QTest::addColumn<QString>("expected"); // the output's end; JSON: its fields but "hops"
    const QString failed = "Lookup of nowhere.test failed dramatically";
    QTest::newRow("text, reached") << ReportFormat::Text << true << true << 4 << "complete\nComplete.\n";
    QTest::newRow("text, not reached") << ReportFormat::Text << false << true << 4
                                       << "next\nComplete.\nTarget not reached.\n";
    // The caller says the error on stderr; a table of made-up rows would only repeat it.
    QTest::newRow("text, lookup failed") << ReportFormat::Text << false << false << 0 << "";
    QTest::newRow("CSV, lookup failed") << ReportFormat::Csv << false << false << 0
                                        << "Hop,IP address,Time,Host name,Result\r\n";
    QTest::newRow("JSON, not reached") << ReportFormat::Json << false << true << 4
                                       << R"({"host":"h","target":"198.18.5.2","family":4,"status":"Complete.",
                                             "reached":false})";
    QTest::newRow("JSON, lookup failed") << ReportFormat::Json << false << false << 0
                                         << R"({"host":"h","target":null,"family":null,"status":")" + failed
            + R"(","reached":false,"hops":[]})";
    QTest::newRow("JSON, lookup failed, -6 given")
        << ReportFormat::Json << false << false << 6
        << R"({"host":"h","target":null,"family":6,"status":")" + failed + R"(","reached":false,"hops":[]})";
}

void TestCli::reportSaysHowTheTraceEnded()
{
    QFETCH(ReportFormat, format);
    QFETCH(bool, reached);
    QFETCH(bool, resolved);
    QFETCH(int, family);
    QFETCH(QString, expected);
    HopRowList rows;
    TraceReport report { "h", "198.18.5.2", "Complete.", family };
    if (resolved) {
        Fill(rows, reached);
    } else {
        // What the engine leaves of a trace whose host was never found.
        rows.InsertHopRow("1", "unknown", "", "", "failed", 0);
        report = { "h", "", "Lookup of nowhere.test failed dramatically", family, true, false };
    }
    const QString out = QString::fromStdString(FormatReport(rows, report, format));
    if (format != ReportFormat::Json) {
        QVERIFY2(expected.isEmpty() ? out.isEmpty() : out.endsWith(expected), qPrintable(out));
        QCOMPARE(out.count("Complete."), expected.count("Complete."));
        return;
    }
    QJsonObject o = QJsonDocument::fromJson(out.toUtf8()).object();
    if (resolved)
        QCOMPARE(o.take("hops").toArray().size(), 3);
    QCOMPARE(o, QJsonDocument::fromJson(expected.toUtf8()).object());
}

void TestCli::progressCountsTheHopsUpToTheTarget_data()
{
    QTest::addColumn<QList<int>>("answers"); // per row: 0 silent, 1 a router, 2 the target
    QTest::addColumn<int>("answered");
    QTest::addColumn<int>("hops");
    QTest::newRow("nothing yet") << QList { 0, 0, 0, 0 } << 0 << 4;
    QTest::newRow("routers") << QList { 1, 0, 1, 0 } << 2 << 4;
    QTest::newRow("target answers every higher hop too") << QList { 1, 0, 1, 2, 2, 2 } << 3 << 4;
    QTest::newRow("target at hop 1") << QList { 2, 2 } << 1 << 1;
}

void TestCli::progressCountsTheHopsUpToTheTarget()
{
    QFETCH(QList<int>, answers);
    QFETCH(int, answered);
    QFETCH(int, hops);
    HopRowList rows;
    for (int i = 0; i < answers.size(); ++i) {
        rows.InsertHopRow(std::to_string(i + 1).c_str(), "", "", "", "tracing...", i);
        if (answers[i])
            Answer(rows, i, 0xC6120100 + i, answers[i] == 2 ? "complete" : "next", 1, 1000);
    }
    const HopCount count = CountHops(rows);
    QCOMPARE(count.answered, answered);
    QCOMPARE(count.hops, hops);
}

namespace {
// The option names ("-4", "--ipv4") of a --help text: its lines that start with blanks
// and an option.
QStringList HelpOptions(const QString& help)
{
    QStringList names;
    static const QRegularExpression line(
        QStringLiteral("^\\s+(?:(-\\w), )?\\s*(--[\\w-]+)"), QRegularExpression::MultilineOption);
    for (auto it = line.globalMatch(help); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        names << m.captured(1) << m.captured(2);
    }
    names.removeAll(QString());
    names.sort();
    return names;
}

// The option names of a manual page's OPTIONS section: those on the tag line of
// each .TP paragraph.
QStringList ManPageOptions(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return { "cannot read " + path };
    const QString page = QString::fromUtf8(file.readAll());
    const qsizetype start = page.indexOf("\n.SH OPTIONS\n");
    const QString section = page.mid(start, page.indexOf("\n.SH ", start + 1) - start);
    QStringList names;
    static const QRegularExpression option(QStringLiteral("(?<![\\w-])(--?[A-Za-z0-9][\\w-]*)"));
    const QStringList lines = section.split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) {
        if (lines[i - 1] != ".TP")
            continue;
        const QString tag = QString(lines[i]).replace("\\-", "-");
        for (auto it = option.globalMatch(tag); it.hasNext();)
            names << it.next().captured(1);
    }
    names.sort();
    return names;
}
} // namespace

void TestCli::manPagesListTheProgramsOptions_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("manPage");
    QTest::newRow("hoplantern-cli") << HOPLANTERN_CLI << MAN_DIR "/hoplantern-cli.1";
    QTest::newRow("hoplantern") << HOPLANTERN << MAN_DIR "/hoplantern.1";
}

void TestCli::manPagesListTheProgramsOptions()
{
    QFETCH(QString, program);
    QFETCH(QString, manPage);
    QProcess process;
    // --help needs no display, not even the offscreen one.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : { "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM" })
        env.remove(name);
    process.setProcessEnvironment(env);
    process.start(program, { "--help" });
    QVERIFY(process.waitForFinished(10000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);
    const QStringList help = HelpOptions(QString::fromLocal8Bit(process.readAllStandardOutput()));
    QVERIFY(help.contains("--help"));
    QCOMPARE(ManPageOptions(manPage), help);
}

void TestCli::watchBeyondTheOpenFileLimitIsRefused_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("says");
    // Each target with up to 62 rounds' sockets in flight at this interval and wait.
    QTest::newRow("five targets") << QStringList { "198.18.0.1", "198.18.0.2", "198.18.0.3", "198.18.0.4",
        "198.18.0.5" } << "5 targets may hold 384 sockets";
    // The listener's up to 256 connections count too, though one target fits alone.
    QTest::newRow("one target and the metrics") << QStringList { "--listen", "127.0.0.1:1", "198.18.0.1" }
                                                << "1 target and the metrics listener may hold 385 sockets";
}

void TestCli::watchBeyondTheOpenFileLimitIsRefused()
{
    // Refused before any socket opens, rather than rounds failing once the limit is hit.
    QFETCH(QStringList, args);
    QFETCH(QString, says);
    QProcess process;
    process.start("prlimit",
        QStringList {
            "--nofile=200:200", HOPLANTERN_CLI, "--watch", "--count", "1", "--interval", "0.05", "-w", "3000" }
            + args);
    QVERIFY(process.waitForFinished(10000));
    const QString said = QString::fromLocal8Bit(process.readAllStandardError());
    QCOMPARE(process.exitCode(), 2);
    QVERIFY2(said.contains(says
                 + " at once at this interval and wait, more than the limit of 200 open files "
                   "(ulimit -Hn)"),
        qPrintable(said));
}

void TestCli::csvQuotesWhatNeedsIt()
{
    HopRowList rows;
    Fill(rows);
    rows.InsertHopRow("4", "198.18.5.2", "1", "line\nbreak\xff", "complete", 3);
    const std::string out = FormatReport(rows, {}, ReportFormat::Csv);
    QCOMPARE(QString::fromStdString(out),
        QString::fromUtf8("Hop,IP address,Time,Host name,Result\r\n"
                          "1,198.18.1.2,3,\"r1 \"\"edge\"\", west\",next\r\n"
                          "2,unknown,,,failed\r\n"
                          "3,198.18.5.2,-10,ziel.bücher.test,complete\r\n"
                          "4,198.18.5.2,1,\"line\nbreak\uFFFD\",complete\r\n"));
}

void TestCli::textAlignsColumns()
{
    HopRowList rows;
    Fill(rows);
    rows.UpdateHopRow(nullptr, nullptr, nullptr, "r1", nullptr, 0);
    const QStringList lines
        = QString::fromStdString(FormatReport(rows, { "h", "198.18.5.2", "Complete.", 4 }, ReportFormat::Text))
              .split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 6);
    QCOMPARE(lines[0], "Target: 198.18.5.2");
    QVERIFY(lines[1].startsWith("Hop  IP address  Time"));
    // Right-aligned address and time columns end in the same place on every line.
    const qsizetype timeEnd = lines[1].indexOf("Time") + 4;
    QCOMPARE(lines[2].indexOf("3 ") + 1, timeEnd);
    QCOMPARE(lines[4].indexOf("-10") + 3, timeEnd);
    // Host names start where their heading does.
    const qsizetype hostStart = lines[1].indexOf("Host name");
    QCOMPARE(lines[2].indexOf("r1"), hostStart);
    QCOMPARE(lines[4].indexOf("ziel"), hostStart);
    QVERIFY(lines[3].endsWith("failed"));
    QCOMPARE(lines[5], "Complete.");
}

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
