// hoplantern-cli --watch: resolves the host once, runs a PathWatch, and prints the JSON
// Lines as rounds finish, or the final summary the moment the last round is decided; with
// --html, writes the HTML report after it.
#include "watch_run.h"

#include "csv_summary.h"
#include "host_resolver.h"
#include "html_report.h"
#include "json_lines.h"
#include "live_table.h"
#include "metrics_server.h"
#include "path_watch.h"
#include "privileges.h"
#include "product_version.h"
#include "receive_check.h"
#include "save_file.h"
#include "stop_signals.h"
#include "summary_table.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QEventLoop>
#include <QSaveFile>
#include <QSysInfo>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <unistd.h>

namespace {

enum ExitCode {
    kWatched = 0,
    kUnresolved = 1,
    kCannotReceive = 3,
    kCannotSend = 4,
    kCannotWriteReport = 5, // an output asked for cannot be made: the HTML report,
    kCannotListen = 5, // or the metrics' listener
    kInterrupted = 130
};

void Write(const QByteArray& bytes)
{
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout); // a reader such as jq follows line by line
}

void PrintErr(const QString& text)
{
    std::fputs(text.toLocal8Bit().constData(), stderr);
}

// The host's address: a literal as it is, a name through the platform's resolver.
// A signal while a name server is slow ends the wait (and the watch, with nothing seen).
NetAddress Resolve(HostResolver& resolver, const CliOptions& options, StopSignals& stops, bool* interrupted)
{
    const NetAddress literal = HostResolver::ParseAddress(options.host.toStdString());
    if (literal.valid())
        return literal;
    NetAddress found;
    bool answered = false;
    QEventLoop loop;
    QObject::connect(&resolver, &HostResolver::resolved, &loop, [&](int, NetAddress address) {
        found = address;
        answered = true;
        loop.quit();
    });
    QObject::connect(&stops, &StopSignals::stopRequested, &loop, [&] {
        *interrupted = true;
        loop.quit();
    });
    resolver.Resolve(1, options.host.toStdString(), AddressFamily(options.family));
    if (!answered)
        loop.exec();
    return found;
}

// Wall-clock time of a moment on the watch's monotonic clock.
class WallTime {
public:
    explicit WallTime(TickClock& clock)
        : m_wall(QDateTime::currentDateTimeUtc())
        , m_monoUs(clock.MonotonicMicros())
    {
    }
    QDateTime At(int64_t monoUs) const { return m_wall.addMSecs((monoUs - m_monoUs) / 1000); }

private:
    QDateTime m_wall;
    int64_t m_monoUs;
};

// Whether a report can be made at `path`, tried before the watch, so that a mistyped folder
// is told at once rather than after hours of watching (the file is written at the end, and
// that write may fail all the same).
bool ReportWritable(const QString& path, QString* error)
{
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly)) {
        file.cancelWriting(); // nothing is left behind, an existing report untouched
        return true;
    }
    *error = QStringLiteral("%1: %2").arg(path, file.errorString());
    return false;
}

void ReportNotWritten(const QString& error)
{
    PrintErr(QStringLiteral("hoplantern-cli: cannot write the HTML report: %1\n").arg(error));
}

} // namespace

int RunWatch(const CliOptions& options, StopSignals& stops)
{
    QString error;
    if (!options.htmlFile.isEmpty() && !ReportWritable(options.htmlFile, &error)) {
        ReportNotWritten(error);
        return kCannotWriteReport;
    }
    PathStats stats(options.fixedFlow);
    PathWatch watch(TracePlatform::System(), stats);
    const QStringList failures = watch.OpenIcmpSocket(options.timeout);
    const int socketError = watch.platform().icmp->LastError();
    DropAllCapabilities(); // the raw socket, if any, is open: nothing else needs privilege
    if (!ReportIcmpSetUp(watch.CanReceive(), failures, socketError))
        return kCannotReceive;

    WatchParameters params;
    bool interrupted = false;
    params.target = Resolve(*watch.platform().resolver, options, stops, &interrupted);
    if (interrupted)
        return kInterrupted;
    if (!params.target.valid()) {
        PrintErr(QStringLiteral("Lookup of %1 failed dramatically\n").arg(options.host));
        return kUnresolved;
    }
    if (options.intervalS < 1)
        PrintErr(QStringLiteral("hoplantern-cli: warning: routers limit their answers to about one a second; "
                                "at a shorter interval their loss figures show that limit, not lost traffic\n"));
    params.maxHops = options.hops;
    params.intervalUs = std::llround(options.intervalS * 1e6);
    params.waitMs = std::min(options.timeout, MaxWaitMs(params.intervalUs));
    if (params.waitMs < options.timeout)
        PrintErr(QStringLiteral("hoplantern-cli: warning: a wait of %1 ms spans more than %2 rounds at this "
                                "interval; waiting %3 ms\n")
                     .arg(options.timeout)
                     .arg(kMaxRoundsInFlight)
                     .arg(params.waitMs));
    params.count = options.count;
    params.fixedFlow = options.fixedFlow;
    params.lookups = options.lookups;

    std::unique_ptr<MetricsServer> metrics;
    if (options.listenPort != 0) {
        const auto targets = [&] {
            return std::vector<MetricsTarget> { MetricsTarget {
                options.host, params.target, &stats, [&](const NetAddress& a) { return watch.NameOf(a); } } };
        };
        metrics = std::make_unique<MetricsServer>(targets, [&] { return watch.platform().clock->MonotonicMicros(); });
        if (!metrics->Listen(QHostAddress(options.listenAddress), options.listenPort, &error)) {
            PrintErr(QStringLiteral("hoplantern-cli: cannot listen on %1 port %2: %3\n")
                         .arg(options.listenAddress)
                         .arg(options.listenPort)
                         .arg(error));
            return kCannotListen;
        }
        QObject::connect(&watch, &PathWatch::roundFinished, metrics.get(), &MetricsServer::Invalidate);
    }

    const WallTime wall(*watch.platform().clock);
    if (options.format == ReportFormat::Json) {
        QObject::connect(&watch, &PathWatch::roundFinished,
            [&](qint64 round) { Write(RoundJsonLine(stats, round, wall.At(watch.RoundDueUs(round)))); });
        QObject::connect(&watch, &PathWatch::routeChanged, [&](const RouteChange& change) {
            Write(RouteChangeJsonLine(change, stats.addresses(), wall.At(change.timeUs)));
        });
    }
    const auto summaryHops = [&] {
        return SummaryHops(stats.Figures(), stats.addresses(), [&](const NetAddress& a) { return watch.NameOf(a); });
    };
    std::unique_ptr<LiveTable> live;
    if (options.format == ReportFormat::Text && !options.report && LiveTable::Usable(STDOUT_FILENO)) {
        live = std::make_unique<LiveTable>(STDOUT_FILENO);
        QObject::connect(&watch, &PathWatch::roundFinished, [&] { live->Draw(summaryHops()); });
    }
    bool stopped = false;
    QObject::connect(&stops, &StopSignals::stopRequested, &watch, [&] {
        stopped = true;
        watch.StopNow();
    });
    QObject::connect(&watch, &PathWatch::finished, qApp, &QCoreApplication::quit, Qt::QueuedConnection);
    watch.Start(params);
    if (!watch.done())
        QCoreApplication::exec();

    const std::vector<SummaryHop> hops = summaryHops();
    if (live) {
        live->Draw(hops); // the last state stays on the screen
    } else if (options.format == ReportFormat::Json) {
        WatchRunInfo run { options.host, params.target, watch.roundsSent(), options.intervalS };
        Write(SummaryJsonLine(run, hops));
    } else if (options.format == ReportFormat::Csv) {
        Write(SummaryCsv(hops));
    } else {
        QByteArray text;
        for (const TableLine& line : SummaryTable(hops))
            text += line.text.toUtf8() + '\n';
        Write(text);
    }
    // After the terminal's report, which a failure here must not cost.
    bool written = true;
    if (!options.htmlFile.isEmpty()) {
        const HtmlReportContext context { options.host, params.target, QSysInfo::machineHostName(),
            wall.At(watch.RoundDueUs(0)).toLocalTime(), QDateTime::currentDateTime(), watch.RoundDueUs(0),
            params.intervalUs, watch.roundsSent(), QStringLiteral("hoplantern-cli " HOPLANTERN_VERSION) };
        const QByteArray html = HtmlReport(stats, context, [&](const NetAddress& a) { return watch.NameOf(a); });
        written = SaveReport(options.htmlFile, html, &error);
        if (!written)
            ReportNotWritten(error);
    }
    // An agent keeps serving its last figures after --count's rounds, until it is stopped,
    // so that a scraper's next look sees every round counted.
    if (metrics && !stopped && watch.sendError() == 0) {
        QObject::connect(&stops, &StopSignals::stopRequested, qApp, &QCoreApplication::quit);
        QCoreApplication::exec();
    }
    if (watch.sendError() != 0) {
        PrintErr(QStringLiteral("hoplantern-cli: %1: %2\n")
                     .arg(options.host, QString::fromLocal8Bit(std::strerror(watch.sendError()))));
        return kCannotSend;
    }
    return written ? kWatched : kCannotWriteReport;
}
