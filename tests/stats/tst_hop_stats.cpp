// One hop count's figures from hand-computed sequences of probe outcomes: what counts as
// sent, received and lost, the round-trip figures and their jitter, Welford's mean and
// deviation against a two-pass computation, and the recent window's median and p95.
#include "hop_stats.h"

#include <QtTest>

#include <cmath>
#include <random>

namespace {
const double kNone = NAN;

// "s" a probe leaves; "l" its deadline passes; "a120" answered in 120 µs, "t900" answered
// late, either optionally "@B" for the answering address (A when not given).
HopStats Play(const QString& events)
{
    HopStats hop(1);
    for (const QString& e : events.split(' ', Qt::SkipEmptyParts)) {
        ProbeOutcome o;
        o.ttl = 1;
        const QStringList parts = e.mid(1).split('@');
        o.rttUs = parts[0].toDouble();
        const AddressId address = parts.size() > 1 ? AddressId(parts[1][0].unicode() - 'A') : 0;
        switch (e[0].unicode()) {
        case 's': o.status = ProbeStatus::InFlight; break;
        case 'l': o.status = ProbeStatus::Lost; break;
        case 'a': o.status = ProbeStatus::Answered; break;
        case 't': o.status = ProbeStatus::Late; break;
        }
        hop.Record(o, address);
    }
    return hop;
}

double Or(const std::optional<double>& v)
{
    return v ? *v : kNone;
}

// last, best, worst, avg, stddev, jitter, javg, jmax, jint
QList<double> Columns(const RttFigures& f)
{
    return { Or(f.lastUs), Or(f.bestUs), Or(f.worstUs), Or(f.avgUs), Or(f.stddevUs), Or(f.jitterUs), Or(f.javgUs),
        Or(f.jmaxUs), Or(f.jintUs) };
}

bool Same(double a, double b)
{
    return (std::isnan(a) && std::isnan(b)) || std::abs(a - b) <= 1e-9 * (1 + std::abs(b));
}
} // namespace

class TestHopStats : public QObject {
    Q_OBJECT
private slots:
    void counts_data()
    {
        QTest::addColumn<QString>("events");
        QTest::addColumn<QList<qint64>>("sentReceivedLostLateInFlight");
        QTest::addColumn<double>("lossPct");
        QTest::newRow("in flight left out") << "s s s s a100 l" << QList<qint64> { 4, 1, 1, 0, 2 } << 50.0;
        QTest::newRow("only in flight: no figure yet") << "s s" << QList<qint64> { 2, 0, 0, 0, 2 } << kNone;
        QTest::newRow("late answer stays lost") << "s l t900" << QList<qint64> { 1, 0, 1, 1, 0 } << 100.0;
        QTest::newRow("decided without in flight counts the send")
            << "a100 l l s" << QList<qint64> { 4, 1, 2, 0, 1 } << 200.0 / 3;
    }

    void counts()
    {
        QFETCH(QString, events);
        QFETCH(QList<qint64>, sentReceivedLostLateInFlight);
        QFETCH(double, lossPct);
        const LossCounts c = Play(events).counts();
        QCOMPARE((QList<qint64> { c.sent, c.received, c.lost, c.late, c.inFlight }), sentReceivedLostLateInFlight);
        QVERIFY2(Same(Or(c.lossPct()), lossPct), qPrintable(QString::number(Or(c.lossPct()))));
    }

    void rttFigures_data()
    {
        QTest::addColumn<QString>("events");
        QTest::addColumn<QList<double>>("hop"); // last best worst avg stddev jitter javg jmax jint
        QTest::addColumn<QList<double>>("lastAddressJitter"); // jitter javg jmax of the last address
        const double n = kNone;
        QTest::newRow("first answer: no jitter, no deviation")
            << "s a100" << QList<double> { 100, 100, 100, 100, n, n, n, n, n } << QList<double> { n, n, n };
        // D = 30, 20; J = 30/16 = 1.875, then 1.875 + (20 - 1.875)/16; sd of 100 130 110 = sqrt(700/3).
        QTest::newRow("consecutive answers")
            << "a100 a130 a110"
            << QList<double> { 110, 100, 130, 340.0 / 3, std::sqrt(700.0 / 3), 20, 25, 30, 3.0078125 }
            << QList<double> { 20, 25, 30 };
        QTest::newRow("a loss or a late answer between answers keeps the chain")
            << "a100 s l t5000 a130" << QList<double> { 130, 100, 130, 115, std::sqrt(450.0), 30, 30, 30, 1.875 }
            << QList<double> { 30, 30, 30 };
        // The hop's chain restarts at B: D = 30 (A), then 20 (B); B alone has D = 20. Squared
        // deviations from 312.5: 212.5², 182.5², 187.5², 207.5², summing to 156675.
        QTest::newRow("another address restarts the jitter")
            << "a100@A a130@A a500@B a520@B"
            << QList<double> { 520, 100, 520, 312.5, std::sqrt(156675.0 / 3), 20, 25, 30, 3.0078125 }
            << QList<double> { 20, 20, 20 };
    }

    void rttFigures()
    {
        QFETCH(QString, events);
        QFETCH(QList<double>, hop);
        QFETCH(QList<double>, lastAddressJitter);
        const HopFigures f = Play(events).Figures();
        const QList<double> got = Columns(f.rtt);
        for (int i = 0; i < got.size(); ++i)
            QVERIFY2(Same(got[i], hop[i]), qPrintable(QString("column %1: %2, not %3").arg(i).arg(got[i]).arg(hop[i])));
        const QList<double> a = Columns(f.addresses.back().rtt).mid(5, 3);
        for (int i = 0; i < a.size(); ++i)
            QVERIFY2(Same(a[i], lastAddressJitter[i]), qPrintable(QString("address %1: %2").arg(i).arg(a[i])));
    }

    // A day of 1 s round trips with sub-µs noise, where a sum of squares would cancel away.
    void welfordAgainstTwoPass()
    {
        const int count = 86400;
        std::mt19937 random(17);
        std::normal_distribution<double> noise(0, 0.01);
        std::vector<double> x(static_cast<size_t>(count));
        RttSeries series;
        for (double& v : x)
            series.Add(v = 1e6 + noise(random));
        double sum = 0;
        for (double v : x)
            sum += v;
        const double mean = sum / count;
        double squares = 0;
        for (double v : x)
            squares += (v - mean) * (v - mean);
        const double stddev = std::sqrt(squares / (count - 1));
        const RttFigures f = series.Figures();
        QVERIFY2(std::abs(*f.avgUs - mean) <= 1e-9 * mean, qPrintable(QString::number(*f.avgUs - mean)));
        QVERIFY2(
            std::abs(*f.stddevUs - stddev) <= 1e-6 * stddev, qPrintable(QString::number(*f.stddevUs / stddev - 1)));
    }

    void recentWindow_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<double>("medianUs");
        QTest::addColumn<double>("p95Us");
        // Answers 1..count µs, fed in the order (7 i mod count) + 1: 1 first, then 8, 15, ...
        QTest::newRow("one") << 1 << 1.0 << 1.0;
        QTest::newRow("two: the mean of the middle ones; rank 2") << 2 << 1.5 << 2.0;
        QTest::newRow("59: rank ceil(56.05) = 57") << 59 << 30.0 << 57.0;
        QTest::newRow("60: the window full") << 60 << 30.5 << 57.0;
        QTest::newRow("61: the first answer gone") << 61 << 31.5 << 58.0;
    }

    void recentWindow()
    {
        QFETCH(int, count);
        QFETCH(double, medianUs);
        QFETCH(double, p95Us);
        RttSeries series;
        for (int i = 0; i < count; ++i)
            series.Add((7 * i) % count + 1);
        const RttFigures f = series.Figures();
        QCOMPARE(*f.medianUs, medianUs);
        QCOMPARE(*f.p95Us, p95Us);
    }
};

QTEST_APPLESS_MAIN(TestHopStats)
#include "tst_hop_stats.moc"
