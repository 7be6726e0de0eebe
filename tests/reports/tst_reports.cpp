// The watch's outputs from paths played round by round through the statistics: the JSON
// Lines read back field by field, the CSV read back, the text table's alignment, its muted
// cells and its fitting into a terminal's width, the HTML report parsed back as XML and
// rendered by a browser.
#include "csv_summary.h"
#include "html_report.h"
#include "json_lines.h"
#include "save_file.h"
#include "summary_table.h"

#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QtTest>

namespace {

// Rounds separated by "|", in each the probes of hop counts 1, 2, ...: "-" lost, else the
// answering router's letter and the round trip in ms ("B1.5"); router X is 198.18.0.N with N
// its place in the alphabet, T the target (198.18.0.20).
struct Played {
    PathStats path { true };
    QList<QByteArray> lines; // a round line per round, and a route change line where one shows
};

NetAddress Router(QChar letter)
{
    return NetAddress::Parse("198.18.0." + std::to_string(letter.unicode() - 'A' + 1));
}

QDateTime RoundTime(int64_t round)
{
    // In a zone two hours east of UTC: the lines are in UTC all the same.
    return QDateTime(QDate(2026, 12, 7), QTime(5, 7, 4, 125), QTimeZone(7200)).addSecs(round);
}

void Play(Played& played, const QString& rounds)
{
    const QStringList list = rounds.split('|');
    for (int64_t r = 0; r < list.size(); ++r) {
        int ttl = 0;
        for (const QString& probe : list[r].split(' ', Qt::SkipEmptyParts)) {
            ProbeOutcome o { r, ++ttl, ProbeStatus::Lost, r * 1000000, 0, {}, false };
            if (probe != "-") {
                o.status = ProbeStatus::Answered;
                o.address = Router(probe[0]);
                o.rttUs = probe.mid(1).toDouble() * 1000;
                o.fromTarget = probe[0] == 'T';
            }
            played.path.Record(o);
        }
        const auto change = played.path.FinishRound(r, r * 1000000);
        played.lines << RoundJsonLine(played.path, r, RoundTime(r));
        if (change)
            played.lines << RouteChangeJsonLine(*change, played.path.addresses(), RoundTime(r));
    }
}

// A reverse lookup is the network's to answer: router D's name is hostile markup, with a
// placeholder for QString::arg and a control character XML does not allow.
const QString kHostileName = "<script>alert(1)</script><b>&amp;%2\x01";

QString Name(const NetAddress& address)
{
    if (address == Router('B'))
        return "b.example";
    if (address == Router('D'))
        return kHostileName;
    return address == Router('C') ? "core, \"west\"" : QString();
}

std::vector<SummaryHop> Hops(const Played& played)
{
    return SummaryHops(played.path.Figures(), played.path.addresses(), Name);
}

// Every key `expected` gives has that value in `actual`, objects and arrays compared the
// same way inside; "(absent)" stands for a key that must not be there.
void CompareGiven(const QJsonValue& actual, const QJsonValue& expected, const QString& where)
{
    if (expected.isObject()) {
        const QJsonObject e = expected.toObject();
        for (auto it = e.begin(); it != e.end(); ++it) {
            const QJsonValue a = actual.toObject().value(it.key());
            if (it.value() == QJsonValue("(absent)"))
                QVERIFY2(a.isUndefined(), qPrintable(where + "." + it.key()));
            else
                CompareGiven(a, it.value(), where + "." + it.key());
        }
    } else if (expected.isArray()) {
        QCOMPARE(actual.toArray().size(), expected.toArray().size());
        for (int i = 0; i < expected.toArray().size(); ++i)
            CompareGiven(actual.toArray()[i], expected.toArray()[i], where + QString("[%1]").arg(i));
    } else {
        QVERIFY2(actual == expected,
            qPrintable(QString("%1: %2, not %3")
                           .arg(where, QJsonDocument(QJsonArray { actual }).toJson(QJsonDocument::Compact),
                               QJsonDocument(QJsonArray { expected }).toJson(QJsonDocument::Compact))));
    }
}

// RFC 4180 back into records; a record not ended by CRLF is kept too, so that the
// comparison shows it.
QList<QStringList> ReadCsv(const QByteArray& bytes)
{
    const QString s = QString::fromUtf8(bytes);
    QList<QStringList> records;
    QStringList fields;
    QString field;
    bool quoted = false;
    for (qsizetype i = 0; i < s.size(); ++i) {
        const QChar c = s[i];
        if (quoted && c == '"' && s.mid(i + 1, 1) == "\"")
            field += s[i++];
        else if (c == '"')
            quoted = !quoted;
        else if (!quoted && c == ',')
            fields << std::exchange(field, {});
        else if (!quoted && s.mid(i, 2) == "\r\n") {
            records << (fields << std::exchange(field, {}));
            fields.clear();
            ++i;
        } else
            field += c;
    }
    if (!fields.isEmpty() || !field.isEmpty())
        records << (fields << field);
    return records;
}

HtmlReportContext ReportContext(int64_t rounds)
{
    return HtmlReportContext { "evil\"<i>.example", Router('T'), "probe<host>", RoundTime(0), RoundTime(rounds), 0,
        1000000, rounds, "hoplantern-cli 1.0" };
}

// What the HTML report says, read back through an XML parser: the summary's rows (cells
// joined by "|", a muted cell in brackets); per hop's chart "answered/lost/carried" (the
// points drawn on the median, the loss marks, those with a part carried on), and "+" for a
// route change at this hop; the route changes' rows; the elements and all the text.
struct ReadBack {
    QStringList rows, charts, changes, elements;
    QString texts;
    QString error;
};

ReadBack ReadHtml(const QByteArray& html)
{
    ReadBack out;
    QXmlStreamReader xml(html);
    QString table, changed;
    QStringList cells;
    int answered = 0, lost = 0, carried = 0;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isCharacters())
            out.texts += xml.text();
        if (xml.isEndElement() && xml.name() == u"tr" && !cells.isEmpty())
            (table == "summary" ? out.rows : out.changes) << cells.join('|');
        if (xml.isEndElement() && xml.name() == u"svg")
            out.charts << QString("%1/%2/%3%4").arg(answered).arg(lost).arg(carried).arg(changed);
        if (!xml.isStartElement())
            continue;
        const QXmlStreamAttributes a = xml.attributes();
        const QString cls = a.value("class").toString();
        out.elements << xml.name().toString();
        if (xml.name() == u"table") {
            table = cls;
        } else if (xml.name() == u"tr") {
            cells.clear();
        } else if (xml.name() == u"td") {
            const QString text = xml.readElementText();
            out.texts += text;
            cells << (cls.contains("muted") ? "[" + text + "]" : text);
        } else if (xml.name() == u"svg") {
            answered = lost = carried = 0;
            changed.clear();
        } else if (cls == "median") {
            answered += xml.name() == u"circle" ? 1 : int(a.value("points").split(' ').size());
        } else if (cls == "lost") {
            ++lost;
        } else if (cls == "carried") {
            ++carried;
        } else if (cls == "route-change here") {
            changed = "+";
        }
    }
    if (xml.hasError())
        out.error = QString("line %1: %2").arg(xml.lineNumber()).arg(xml.errorString());
    return out;
}

} // namespace

class TestReports : public QObject {
    Q_OBJECT
private slots:
    void jsonLines_data();
    void jsonLines();
    void csv_data();
    void csv();
    void table_data();
    void table();
    void html_data();
    void html();
    void htmlInBrowser();
    void saveReport();
};

void TestReports::jsonLines_data()
{
    QTest::addColumn<QString>("rounds");
    QTest::addColumn<QString>("expected"); // a JSON array: the fields to check of every line
    QTest::newRow("nothing answered: nulls, no hop hidden")
        << "- - -|- - -"
        << R"json([{"type":"round","round":0,"time":"2026-12-07T03:07:04.125Z",
                "hops":[{"ttl":1,"ip":null,"rtt_ms":null,"status":"lost"},{"ttl":2},{"ttl":3}]},
               {"type":"round","round":1,"time":"2026-12-07T03:07:05.125Z"},
               {"type":"summary","target":"watched.example","target_ip":"198.18.0.20","rounds":2,"interval_s":0.5,
                "hops":[{"ttl":1,"hosts":[],"sent":2,"recv":0,"loss_pct":100,"forward_loss_pct":100,"last":null,
                         "avg":null,"best":null,"worst":null,"stddev":null,"median":null,"p95":null,
                         "jitter":null,"javg":null,"jmax":null,"jint":null},{"ttl":2},{"ttl":3}]}])json";
    QTest::newRow("figures of two answers, to the microsecond")
        << "A1.0004 T0.2|A3.0004 T0.2"
        << R"json([{"hops":[{"ttl":1,"ip":"198.18.0.1","rtt_ms":1,"status":"answered"},{"ttl":2,"rtt_ms":0.2}]},{},
               {"type":"summary","hops":[{"ttl":1,"hosts":[{"ip":"198.18.0.1","hostname":null}],"sent":2,"recv":2,
                 "loss_pct":0,"forward_loss_pct":0,"last":3,"avg":2,"best":1,"worst":3,"stddev":1.414,"median":2,
                 "p95":3,"jitter":2,"javg":2,"jmax":2,"jint":0.125},{"ttl":2,"jitter":0}]}])json";
    QTest::newRow("a router declining half its answers: loss not carried on")
        << "- T1|A1 T1"
        << R"json([{"hops":[{"ttl":1,"status":"lost"},{"ttl":2,"status":"answered"}]},{},
               {"type":"summary","hops":[{"loss_pct":50,"forward_loss_pct":0},{"loss_pct":0,"forward_loss_pct":0}]}])json";
    QTest::newRow("a replaced router: a route change, two addresses at its hop")
        << "A1 B1 T1|A1 C1 T1"
        << R"json([{},{},{"type":"route_change","round":1,"time":"2026-12-07T03:07:05.125Z","target_ttl":"(absent)",
                     "hops":[{"ttl":2,"old":"198.18.0.2","new":"198.18.0.3"}]},
               {"type":"summary","hops":[{"ttl":1},{"ttl":2,"sent":2,"hosts":[
                 {"ip":"198.18.0.2","hostname":"b.example"},{"ip":"198.18.0.3","hostname":"core, \"west\""}]},
                 {"ttl":3}]}])json";
    QTest::newRow("the target found nearer")
        << "A1 B1 T1|A1 T1"
        << R"json([{},{},{"type":"route_change","round":1,"target_ttl":{"old":3,"new":2},
                     "hops":[{"ttl":2,"old":"198.18.0.2","new":"198.18.0.20"}]},
               {"type":"summary","hops":[{"ttl":1},{"ttl":2}]}])json";
    QTest::newRow("probes past the target: in the round, not in the summary")
        << "A1 T1 T1 T1"
        << R"json([{"hops":[{"ttl":1},{"ttl":2},{"ttl":3,"ip":"198.18.0.20"},{"ttl":4}]},
               {"type":"summary","hops":[{"ttl":1},{"ttl":2}]}])json";
}

void TestReports::jsonLines()
{
    QFETCH(QString, rounds);
    QFETCH(QString, expected);
    Played played;
    Play(played, rounds);
    const QByteArray summary
        = SummaryJsonLine({ "watched.example", Router('T'), played.lines.size(), 0.5 }, Hops(played));
    QJsonArray lines;
    for (const QByteArray& line : played.lines + QList { summary }) {
        QVERIFY2(line.endsWith('\n') && line.count('\n') == 1, line.constData());
        QJsonParseError error;
        const QJsonObject object = QJsonDocument::fromJson(line, &error).object();
        QVERIFY2(error.error == QJsonParseError::NoError, qPrintable(error.errorString() + ": " + line));
        QCOMPARE(object["schema"], QJsonValue("hoplantern.watch.1"));
        lines.append(object);
    }
    const QJsonDocument wanted = QJsonDocument::fromJson(expected.toUtf8());
    QVERIFY2(wanted.isArray(), "the expected lines do not parse");
    CompareGiven(lines, wanted.array(), "lines");
}

void TestReports::csv_data()
{
    QTest::addColumn<QString>("rounds");
    QTest::addColumn<QStringList>("records"); // fields up to loss_pct, joined by "|"
    QTest::newRow("a name with a comma and quotes, a second address without figures")
        << "- C1 T1|A1 C3 T1|A1 B2 T1"
        << QStringList { "ttl|ip|hostname|sent|recv|loss_pct", "1|198.18.0.1||3|2|33.333",
               "2|198.18.0.3|core, \"west\"|3|3|0.000", "2|198.18.0.2|b.example|||", "3|198.18.0.20||3|3|0.000" };
    QTest::newRow("nobody answered: one record, empty ip")
        << "- -" << QStringList { "ttl|ip|hostname|sent|recv|loss_pct", "1|||1|0|100.000", "2|||1|0|100.000" };
}

void TestReports::csv()
{
    QFETCH(QString, rounds);
    QFETCH(QStringList, records);
    Played played;
    Play(played, rounds);
    const QByteArray bytes = SummaryCsv(Hops(played));
    QVERIFY(bytes.endsWith("\r\n"));
    QStringList read;
    for (const QStringList& record : ReadCsv(bytes)) {
        QCOMPARE(record.size(), 18);
        read << record.mid(0, 6).join('|');
    }
    QCOMPARE(read, records);
    // A watch of several targets: the same records behind two columns, target and name.
    const auto several = ReadCsv(SummaryCsv(std::vector<TargetSummary> { { "t, 1", "edge", Hops(played) } }));
    QCOMPARE(several.size(), read.size());
    for (qsizetype i = 0; i < several.size(); ++i)
        QCOMPARE(several[i].mid(0, 8).join('|'), (i == 0 ? QString("target|name|") : QString("t, 1|edge|")) + read[i]);
}

void TestReports::table_data()
{
    QTest::addColumn<QString>("rounds");
    QTest::addColumn<int>("width");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QStringList>("muted"); // the text under each muted span
    const QString path = "- B0.35 T12.25|A1 B1234.5 T14.25|A1 C1 T10";
    const QStringList full {
        "Hop Address     Name         Loss%  Fwd%   Snt  Last   Avg  Best  Wrst StDev  Jttr",
        "  1 198.18.0.1                33.3   0.0     3   1.0   1.0   1.0   1.0  0.00  0.00",
        "  2 198.18.0.2  b.example      0.0   0.0     3   1.0 411.9  0.35  1235 712.3  1234",
        "    198.18.0.3  core, \"west\"",
        "  3 198.18.0.20                0.0   0.0     3  10.0  12.2  10.0  14.3   2.1   4.3",
    };
    QTest::newRow("numbers right, text left, a declining router's loss muted")
        << path << 0 << full << QStringList { "33.3" };
    QTest::newRow("fits as it is") << path << 82 << full << QStringList { "33.3" };
    QTest::newRow("names truncated to the width")
        << path << 80
        << QStringList {
               "Hop Address     Name       Loss%  Fwd%   Snt  Last   Avg  Best  Wrst StDev  Jttr",
               "  1 198.18.0.1              33.3   0.0     3   1.0   1.0   1.0   1.0  0.00  0.00",
               "  2 198.18.0.2  b.example    0.0   0.0     3   1.0 411.9  0.35  1235 712.3  1234",
               "    198.18.0.3  core, \"we\u2026",
               "  3 198.18.0.20              0.0   0.0     3  10.0  12.2  10.0  14.3   2.1   4.3",
           }
        << QStringList { "33.3" };
    QTest::newRow("names too short to read: no Name column")
        << path << 70
        << QStringList {
               "Hop Address     Loss%  Fwd%   Snt  Last   Avg  Best  Wrst StDev  Jttr",
               "  1 198.18.0.1   33.3   0.0     3   1.0   1.0   1.0   1.0  0.00  0.00",
               "  2 198.18.0.2    0.0   0.0     3   1.0 411.9  0.35  1235 712.3  1234",
               "    198.18.0.3",
               "  3 198.18.0.20   0.0   0.0     3  10.0  12.2  10.0  14.3   2.1   4.3",
           }
        << QStringList { "33.3" };
    QTest::newRow("narrower still: the lines cut, a muted span with them")
        << path << 19
        << QStringList { "Hop Address     Los", "  1 198.18.0.1   33", "  2 198.18.0.2    0", "    198.18.0.3",
               "  3 198.18.0.20   0" }
        << QStringList { "33" };
}

void TestReports::table()
{
    QFETCH(QString, rounds);
    QFETCH(int, width);
    QFETCH(QStringList, lines);
    QFETCH(QStringList, muted);
    Played played;
    Play(played, rounds);
    QStringList texts, mutedTexts;
    for (const TableLine& line : SummaryTable(Hops(played), width)) {
        texts << line.text;
        for (const TextSpan& s : line.muted) {
            mutedTexts << line.text.mid(s.start, s.length);
            // The terminal view's dimming wraps exactly the span.
            QVERIFY(WithDimmedSpans(line).contains("\x1b[2m" + mutedTexts.last() + "\x1b[22m"));
        }
    }
    QCOMPARE(texts, lines);
    QCOMPARE(mutedTexts, muted);
}

void TestReports::html_data()
{
    QTest::addColumn<QString>("rounds");
    QTest::addColumn<QStringList>("rows"); // the summary's, up to Snt
    QTest::addColumn<QStringList>("charts");
    QTest::addColumn<QStringList>("changes");
    QString hostile = kHostileName;
    hostile.replace(QChar(1), QChar::ReplacementCharacter);
    QTest::newRow("a declining router muted, loss carried on at the target, a hostile name")
        << "- D0.35 T12.25|A1 D1 -|A1 D1 T10|A1 D1 T10"
        << QStringList { "1|198.18.0.1||[25.0]|0.0|4", "2|198.18.0.4|" + hostile + "|0.0|0.0|4",
               "3|198.18.0.20||25.0|25.0|4" }
        << QStringList { "3/1/0", "4/0/0", "3/1/1" } << QStringList {};
    QTest::newRow("a replaced router: a change in the list and on its hop's chart")
        << "A1 B1 T1|A1 C1 T1"
        << QStringList { "1|198.18.0.1||0.0|0.0|2", "2|198.18.0.2|b.example|0.0|0.0|2", "|198.18.0.3|core, \"west\"|||",
               "3|198.18.0.20||0.0|0.0|2" }
        << QStringList { "2/0/0", "2/0/0+", "2/0/0" }
        << QStringList { "2026-12-07 05:07:05 +02:00|1|2|198.18.0.2 (b.example)|198.18.0.3 (core, \"west\")" };
    // Long watches, one round a second, the target losing the first round of each 10 s or
    // each minute: drawn from the finest tier holding the whole watch, a point per bucket.
    const auto longWatch = [](int rounds, int lostEvery) {
        QString played;
        for (int r = 0; r < rounds; ++r)
            played += r % lostEvery == 0 ? QString("A1 -|") : QString("A%1 T%2|").arg(1 + r % 3).arg(5 + r % 7);
        played.chop(1);
        return played;
    };
    QTest::newRow("20 minutes: 10 s buckets")
        << longWatch(1200, 10) << QStringList { "1|198.18.0.1||0.0|0.0|1200", "2|198.18.0.20||10.0|10.0|1200" }
        << QStringList { "120/0/0", "120/120/120" } << QStringList {};
    QTest::newRow("4 hours, beyond the 10 s ring: 1 min buckets")
        << longWatch(14400, 60) << QStringList { "1|198.18.0.1||0.0|0.0|14400", "2|198.18.0.20||1.7|1.7|14400" }
        << QStringList { "240/0/0", "240/240/240" } << QStringList {};
}

void TestReports::html()
{
    QFETCH(QString, rounds);
    QFETCH(QStringList, rows);
    QFETCH(QStringList, charts);
    QFETCH(QStringList, changes);
    Played played;
    Play(played, rounds);
    const ReadBack back = ReadHtml(HtmlReport(played.path, ReportContext(rounds.count('|') + 1), Name));
    QVERIFY2(back.error.isEmpty(), qPrintable(back.error));
    QStringList shortRows;
    for (const QString& row : back.rows)
        shortRows << row.section('|', 0, 5);
    QCOMPARE(shortRows, rows);
    QCOMPARE(back.charts, charts);
    QCOMPARE(back.changes, changes);
    // What the user and the network wrote is text, never markup.
    for (const char* element : { "script", "i", "b", "host" })
        QVERIFY2(!back.elements.contains(element), element);
    QVERIFY(back.texts.contains("evil\"<i>.example") && back.texts.contains("probe<host>"));
}

// The report as a browser shows it: Chromium parses it as HTML (not XML) and draws it.
// HOPLANTERN_REPORT_SCREENSHOT names a file to keep the screenshot in, to look at.
void TestReports::htmlInBrowser()
{
    const QString chromium = QStandardPaths::findExecutable("chromium");
    if (chromium.isEmpty())
        QSKIP("chromium is not installed (scripts/install-deps.sh installs it)");
    Played played;
    Play(played, "- D0.35 T12.25|A1 D1 -|A1 D1 T10|A1 D1 T10|A2 D1.5 T11|A1 D1 T9");
    QTemporaryDir dir;
    const QString page = dir.filePath("report.html");
    QVERIFY(SaveReport(page, HtmlReport(played.path, ReportContext(6), Name)));
    const QString png = qEnvironmentVariable("HOPLANTERN_REPORT_SCREENSHOT", dir.filePath("report.png"));
    const QStringList common { "--headless", "--no-sandbox", "--disable-gpu",
        "--user-data-dir=" + dir.filePath("profile"), "--window-size=1000,1100" };
    QProcess browser;
    browser.start(chromium, common + QStringList { "--dump-dom", QUrl::fromLocalFile(page).toString() });
    QVERIFY(browser.waitForFinished(60000));
    const QString dom = QString::fromUtf8(browser.readAllStandardOutput());
    // Three charts, each round a point on the line or a loss mark: 5 + 1, 6 + 0, 5 + 1.
    QCOMPARE(dom.count("<svg"), 3);
    static const QRegularExpression median(R"re(<polyline class="median" points="([^"]*)")re");
    qsizetype vertices = dom.count("<circle class=\"median\"");
    for (auto m = median.globalMatch(dom); m.hasNext();)
        vertices += m.next().captured(1).split(' ').size();
    QCOMPARE(vertices, 16);
    QCOMPARE(dom.count("<rect class=\"lost\""), 2);
    QVERIFY(dom.contains("&lt;script&gt;alert(1)&lt;/script&gt;"));

    browser.start(chromium, common + QStringList { "--screenshot=" + png, QUrl::fromLocalFile(page).toString() });
    QVERIFY(browser.waitForFinished(60000));
    const QImage shot(png);
    QVERIFY2(!shot.isNull(), qPrintable(png));
    // The charts are drawn: the red of loss carried on at the target, the green of the line
    // of the hops without it.
    int red = 0, green = 0;
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x) {
            const QColor c = shot.pixelColor(x, y);
            red += c.red() > 180 && c.green() < 70 && c.blue() < 70;
            green += c.green() > 120 && c.red() < 90 && c.blue() < 90;
        }
    QVERIFY2(red > 20 && green > 20, qPrintable(QString("red %1, green %2 pixels").arg(red).arg(green)));
}

void TestReports::saveReport()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("watch.csv");
    QVERIFY(SaveReport(path, "old"));
    QVERIFY(SaveReport(path, "new"));
    QString error;
    QVERIFY(!SaveReport(dir.filePath("gone/watch.csv"), "x", &error));
    QVERIFY2(error.startsWith(dir.filePath("gone/watch.csv") + ": "), qPrintable(error));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), "new");
}

QTEST_APPLESS_MAIN(TestReports)
#include "tst_reports.moc"
