// The metrics' exposition text from hand-played rounds: counters against the addresses
// that answered, the histogram's inclusive bounds, the recent forward loss, quiet addresses
// dropped, escaping, the OpenMetrics differences, and the Accept header's choice.
#include "metrics_text.h"

#include <QtTest>

#include <arpa/inet.h>

namespace {
constexpr int64_t kS = 1'000'000;

NetAddress Router(QChar letter)
{
    return NetAddress::FromV4(htonl(0xC6120002u + (uint32_t(letter.unicode() - 'A' + 1) << 8)));
}
const NetAddress kTarget = NetAddress::FromV4(htonl(0xC6120902u)); // 198.18.9.2

// Rounds as "SECONDS: OUTCOME OUTCOME ...; ...", one outcome per hop count from 1: "A120"
// router A (198.18.1.2) answered in 120 µs, "T80" the target did, "-" lost.
void Play(PathStats& stats, const QString& rounds)
{
    int64_t round = 0;
    for (const QString& r : rounds.split(';', Qt::SkipEmptyParts)) {
        const QStringList parts = r.split(':');
        const auto sentUs = int64_t(parts[0].trimmed().toDouble() * kS);
        int ttl = 0;
        for (const QString& outcome : parts[1].split(' ', Qt::SkipEmptyParts)) {
            ProbeOutcome o;
            o.round = round;
            o.ttl = ++ttl;
            o.sentUs = sentUs;
            stats.Record(o);
            if (outcome == "-") {
                o.status = ProbeStatus::Lost;
            } else {
                o.status = ProbeStatus::Answered;
                o.fromTarget = outcome[0] == 'T';
                o.address = o.fromTarget ? kTarget : Router(outcome[0]);
                o.rttUs = outcome.mid(1).toDouble();
            }
            stats.Record(o);
        }
        stats.FinishRound(round++, sentUs);
    }
}

const char* const kHop1 = "target=\"t\",target_ip=\"198.18.9.2\",ttl=\"1\",hop_ip=\"198.18.1.2\"";
} // namespace

class TestMetrics : public QObject {
    Q_OBJECT
private slots:
    void exposition_data()
    {
        QTest::addColumn<QString>("rounds");
        QTest::addColumn<double>("nowS");
        QTest::addColumn<QStringList>("present");
        QTest::addColumn<QStringList>("absent");
        const QString h1 = kHop1;
        QTest::newRow("bounds are inclusive, sum in seconds")
            << "0: A50 T900; 1: A100 T900; 2: A150 T900" << 3.0
            << QStringList { "hoplantern_hop_rtt_seconds_bucket{" + h1 + ",le=\"5e-05\"} 1",
                   "hoplantern_hop_rtt_seconds_bucket{" + h1 + ",le=\"1e-04\"} 2",
                   "hoplantern_hop_rtt_seconds_bucket{" + h1 + ",le=\"2e-04\"} 3",
                   "hoplantern_hop_rtt_seconds_bucket{" + h1 + ",le=\"+Inf\"} 3",
                   "hoplantern_hop_rtt_seconds_sum{" + h1 + "} 3e-04", "hoplantern_hop_rtt_seconds_count{" + h1 + "} 3",
                   "hoplantern_hop_probes_sent_total{" + h1 + "} 3", "hoplantern_rounds_total{target=\"t\"} 3",
                   "hoplantern_path_hops{target=\"t\"} 2", "hoplantern_path_changes_total{target=\"t\"} 0" }
            << QStringList {};
        QTest::newRow("loss before any answer has no address")
            << "0: - T900; 1: A100 T900; 2: A100 T900; 3: - T900" << 4.0
            << QStringList { "hoplantern_hop_probes_sent_total{target=\"t\",target_ip=\"198.18.9.2\",ttl=\"1\",hop_ip="
                             "\"\"} 1",
                   "hoplantern_hop_probes_received_total{target=\"t\",target_ip=\"198.18.9.2\",ttl=\"1\",hop_ip=\"\"} "
                   "0",
                   "hoplantern_hop_probes_sent_total{" + h1 + "} 3",
                   "hoplantern_hop_probes_received_total{" + h1 + "} 2",
                   "hoplantern_hop_info{target=\"t\",ttl=\"1\",hop_ip=\"198.18.1.2\",hostname=\"r\\\"1\\\\\\n\"} 1" }
            << QStringList {};
        QTest::newRow("forward loss: the least loss from the hop on, recent rounds")
            << "0: A100 B100 -; 1: - B100 T900; 2: A100 - T900; 3: A100 B100 T900" << 4.0
            << QStringList { "hoplantern_hop_forward_loss_ratio{target=\"t\",ttl=\"1\"} 0.25",
                   "hoplantern_hop_forward_loss_ratio{target=\"t\",ttl=\"2\"} 0.25",
                   "hoplantern_hop_forward_loss_ratio{target=\"t\",ttl=\"3\"} 0.25" }
            << QStringList {};
        QTest::newRow("forward loss of 5 minutes ago forgotten")
            << "0: A100 -; 1: - T900; 400: A100 T900" << 401.0
            << QStringList { "hoplantern_hop_forward_loss_ratio{target=\"t\",ttl=\"1\"} 0",
                   "hoplantern_hop_forward_loss_ratio{target=\"t\",ttl=\"2\"} 0",
                   "hoplantern_hop_probes_sent_total{" + h1 + "} 3" }
            << QStringList {};
        QTest::newRow("an address quiet for 10 minutes is dropped")
            << "0: A100 T900; 700: B100 T900" << 701.0
            << QStringList { "hoplantern_hop_info{target=\"t\",ttl=\"1\",hop_ip=\"198.18.2.2\",hostname=\"\"} 1" }
            << QStringList { "hop_ip=\"198.18.1.2\"" };
        QTest::newRow("a hop gone dark keeps its last answerer, charged with the losses")
            << "0: A100 T900; 1: - T900; 700: - T900" << 701.0
            << QStringList { "hoplantern_hop_probes_sent_total{" + h1 + "} 3",
                   "hoplantern_hop_probes_received_total{" + h1 + "} 1" }
            << QStringList {};
        QTest::newRow("a quiet address kept for 10 minutes")
            << "0: A100 T900; 500: B100 T900" << 501.0
            << QStringList { "hoplantern_hop_probes_sent_total{" + h1 + "} 1" } << QStringList {};
        QTest::newRow("no hop counts past the target")
            << "0: A100 T900 T900 T900" << 1.0 << QStringList { "hoplantern_path_hops{target=\"t\"} 2" }
            << QStringList { "ttl=\"3\"" };
    }

    void exposition()
    {
        QFETCH(QString, rounds);
        QFETCH(double, nowS);
        QFETCH(QStringList, present);
        QFETCH(QStringList, absent);
        PathStats stats(false);
        Play(stats, rounds);
        const HostNames names = [](const NetAddress& a) { return a == Router('A') ? "r\"1\\\n" : QString(); };
        const QByteArray text = MetricsText(
            { MetricsTarget { "t", kTarget, &stats, names } }, int64_t(nowS * kS), MetricsFormat::Prometheus);
        const QStringList lines = QString::fromUtf8(text).split('\n');
        for (const QString& line : present)
            QVERIFY2(lines.contains(line), qPrintable(line + "\n---\n" + text));
        for (const QString& part : absent)
            QVERIFY2(!text.contains(part.toUtf8()), qPrintable(part + "\n---\n" + text));
    }

    void openMetricsNamesFamiliesWithoutSuffixes()
    {
        PathStats stats(false);
        Play(stats, "0: A100 T900");
        const std::vector<MetricsTarget> targets { MetricsTarget { "t", kTarget, &stats, {} } };
        const QByteArray open = MetricsText(targets, kS, MetricsFormat::OpenMetrics);
        for (const char* line : { "# TYPE hoplantern_hop_probes_sent counter\n", "# TYPE hoplantern_hop info\n",
                 "# UNIT hoplantern_hop_rtt_seconds seconds\n", "\nhoplantern_hop_probes_sent_total{" })
            QVERIFY2(open.contains(line), line);
        QVERIFY(open.endsWith("\n# EOF\n"));
        const QByteArray text = MetricsText(targets, kS, MetricsFormat::Prometheus);
        QVERIFY(text.contains("# TYPE hoplantern_hop_probes_sent_total counter\n"));
        QVERIFY(text.contains("# TYPE hoplantern_hop_info gauge\n"));
        QVERIFY(!text.contains("# EOF") && !text.contains("# UNIT"));
    }

    void formatForAccept_data()
    {
        QTest::addColumn<QByteArray>("accept");
        QTest::addColumn<bool>("openMetrics");
        QTest::newRow("Prometheus's own") << QByteArray(
            "application/openmetrics-text;version=1.0.0,application/"
            "openmetrics-text;version=0.0.1;q=0.75,text/plain;version=0.0.4;"
            "q=0.5,*/*;q=0.1") << true;
        QTest::newRow("no header") << QByteArray() << false;
        QTest::newRow("text only") << QByteArray("text/plain; version=0.0.4") << false;
        QTest::newRow("anything") << QByteArray("*/*") << false;
        QTest::newRow("OpenMetrics without version") << QByteArray("Application/OpenMetrics-Text") << true;
        QTest::newRow("only an older OpenMetrics")
            << QByteArray("application/openmetrics-text; version=0.0.1") << false;
        QTest::newRow("ranked below text")
            << QByteArray("application/openmetrics-text;q=0.2, text/plain;q=0.5") << false;
    }

    void formatForAccept()
    {
        QFETCH(QByteArray, accept);
        QFETCH(bool, openMetrics);
        QCOMPARE(FormatForAccept(accept) == MetricsFormat::OpenMetrics, openMetrics);
    }
};

QTEST_APPLESS_MAIN(TestMetrics)
#include "tst_metrics.moc"
