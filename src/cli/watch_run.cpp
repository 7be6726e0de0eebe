// hoplantern-cli --watch: resolves each target once, runs a PathWatch per target on the one
// event loop, and prints the JSON Lines as rounds finish, or the final summaries the moment
// the last round is decided; with --listen, serves every target's metrics, and with --html
// (one target), writes the HTML report after it.
#include "watch_run.h"
#include "exit_codes.h"

#include "csv_summary.h"
#include "guarded_tcp_server.h"
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
#include "socket_budget.h"
#include "stop_signals.h"
#include "summary_table.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QEventLoop>
#include <QSaveFile>
#include <QSysInfo>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <unistd.h>

namespace {

// Several targets on a terminal: the tables are redrawn at most this often, not once for
// every target's round.
constexpr int kLiveRedrawMs = 200;

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
NetAddress Resolve(
    HostResolver& resolver, const QString& host, AddressChoice family, StopSignals& stops, bool* interrupted)
{
    const NetAddress literal = HostResolver::ParseAddress(host.toStdString());
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
    resolver.Resolve(1, host.toStdString(), AddressFamily(family));
    if (!answered)
        loop.exec();
    return found;
}

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

// One target's watch and what it found.
struct TargetRun {
    TargetRun(const WatchTarget& given, bool fixedFlow, HistoryDepth depth)
        : target(given)
        , stats(fixedFlow, depth)
        , watch(TracePlatform::System(), stats)
    {
    }
    std::vector<SummaryHop> Hops() const
    {
        return SummaryHops(stats.Figures(), stats.addresses(), [&](const NetAddress& a) { return watch.NameOf(a); });
    }
    // The line above its table: "LABEL: HOST (ADDRESS)", the parts known and not repeated.
    QString Heading() const
    {
        QString text = target.name.isEmpty() ? target.host : target.name + QStringLiteral(": ") + target.host;
        const QString address = QString::fromStdString(info.target.valid() ? info.target.ToText() : std::string());
        if (!address.isEmpty() && address != target.host)
            text += QStringLiteral(" (%1)").arg(address);
        return text;
    }

    WatchTarget target;
    PathStats stats;
    PathWatch watch;
    WatchParameters params;
    WatchRunInfo info; // the target as the JSON summary names it
    LineTarget line { target.host, target.name }; // and as its other lines do, when several are watched
    // and as the metrics label it
    QString Label() const { return target.name.isEmpty() ? target.host : target.name; }
};

} // namespace

int RunWatch(const CliOptions& options, StopSignals& stops)
{
    QString error;
    if (!options.htmlFile.isEmpty() && !ReportWritable(options.htmlFile, &error)) {
        ReportNotWritten(error);
        return kCannotWriteReport;
    }
    WatchParameters params;
    params.maxHops = options.hops;
    params.intervalUs = std::llround(options.intervalS * 1e6);
    params.waitMs = std::min(options.timeout, MaxWaitMs(params.intervalUs));
    params.count = options.count;
    params.fixedFlow = options.fixedFlow;
    params.lookups = options.lookups;

    // Every target's sockets, and the metrics listener's, must fit the process's limit on
    // open files before any opens.
    const size_t listenerSockets = options.listenPort == 0 ? 0 : size_t(GuardedTcpServer::Limits {}.maxConnections) + 1;
    if (!MakeRoomForSockets(options.targets.size(), params, listenerSockets, &error)) {
        PrintErr(QStringLiteral("hoplantern-cli: %1\n").arg(error));
        return kUsage;
    }
    // Only the HTML report draws timelines over hours and days; the terminal's lines and
    // tables and the metrics read the rounds just finished and the last minutes.
    const HistoryDepth depth = options.htmlFile.isEmpty() ? HistoryDepth::Minutes : HistoryDepth::Week;
    std::vector<std::unique_ptr<TargetRun>> runs;
    for (const WatchTarget& target : options.targets) {
        runs.push_back(std::make_unique<TargetRun>(target, options.fixedFlow, depth));
        PathWatch& watch = runs.back()->watch;
        const QStringList failures = watch.OpenIcmpSocket(options.timeout);
        // One target's set-up speaks for all: they open the same kinds of socket.
        if (runs.size() == 1 || !watch.CanReceive()) {
            if (!ReportIcmpSetUp(watch.CanReceive(), failures, watch.platform().icmp->LastError()))
                return kCannotReceive;
        }
    }
    // One server for every target, each under its own label. Bound while the capabilities
    // are still held, as the raw sockets are opened, so that a port below 1024 can be had
    // where binding one takes privilege; it serves nothing before the targets are resolved.
    std::unique_ptr<MetricsServer> metrics;
    if (options.listenPort != 0) {
        const auto targets = [&] {
            std::vector<MetricsTarget> all;
            for (const std::unique_ptr<TargetRun>& run : runs) {
                const PathWatch& watch = run->watch;
                all.push_back({ run->Label(), run->params.target, &run->stats,
                    [&watch](const NetAddress& a) { return watch.NameOf(a); } });
            }
            return all;
        };
        metrics = std::make_unique<MetricsServer>(
            targets, [&] { return runs.front()->watch.platform().clock->MonotonicMicros(); });
        if (!metrics->Listen(QHostAddress(options.listenAddress), options.listenPort, &error)) {
            PrintErr(QStringLiteral("hoplantern-cli: cannot listen on %1 port %2: %3\n")
                         .arg(options.listenAddress)
                         .arg(options.listenPort)
                         .arg(error));
            return kCannotListen;
        }
        metrics->PauseAccepting(); // until every target is resolved: scrapes wait, none sees an unknown address
        for (const std::unique_ptr<TargetRun>& run : runs)
            QObject::connect(&run->watch, &PathWatch::roundFinished, metrics.get(), &MetricsServer::Invalidate);
    }

    DropAllCapabilities(); // the raw sockets and the listener, if any, are open: nothing else needs privilege

    for (const std::unique_ptr<TargetRun>& run : runs) {
        bool interrupted = false;
        run->params = params;
        run->params.target
            = Resolve(*run->watch.platform().resolver, run->target.host, options.family, stops, &interrupted);
        if (interrupted)
            return kInterrupted;
        if (!run->params.target.valid()) {
            PrintErr(QStringLiteral("%1Lookup of %2 failed dramatically\n")
                         .arg(run->target.where.isEmpty() ? QString() : run->target.where + QStringLiteral(": "),
                             run->target.host));
            return kUnresolved;
        }
        run->info = { run->target.host, run->params.target, 0, options.intervalS };
    }
    if (metrics)
        metrics->ResumeAccepting();
    if (options.intervalS < 1)
        PrintErr(QStringLiteral("hoplantern-cli: warning: routers limit their answers to about one a second; "
                                "at a shorter interval their loss figures show that limit, not lost traffic\n"));
    if (params.waitMs < options.timeout)
        PrintErr(QStringLiteral("hoplantern-cli: warning: a wait of %1 ms spans more than %2 rounds at this "
                                "interval; waiting %3 ms\n")
                     .arg(options.timeout)
                     .arg(kMaxRoundsInFlight)
                     .arg(params.waitMs));

    const bool several = options.severalTargets;
    std::unique_ptr<LiveTable> live;
    if (options.format == ReportFormat::Text && !options.report && LiveTable::Usable(STDOUT_FILENO))
        live = std::make_unique<LiveTable>(STDOUT_FILENO);
    const auto sections = [&] {
        std::vector<LiveTable::Section> all;
        for (const std::unique_ptr<TargetRun>& run : runs)
            all.push_back({ run->Heading(), run->Hops() });
        return all;
    };
    QTimer redraw;
    redraw.setSingleShot(true);
    redraw.setInterval(kLiveRedrawMs);
    QObject::connect(&redraw, &QTimer::timeout, [&] { live->Draw(sections()); });

    bool stopped = false;
    size_t finished = 0;
    for (const std::unique_ptr<TargetRun>& r : runs) {
        TargetRun& run = *r;
        const LineTarget* lineTarget = several ? &run.line : nullptr;
        if (options.format == ReportFormat::Json) {
            QObject::connect(&run.watch, &PathWatch::roundFinished, [&, lineTarget](qint64 round) {
                Write(RoundJsonLine(run.stats, round, run.watch.WallTimeOf(run.watch.RoundDueUs(round)), lineTarget));
            });
            QObject::connect(&run.watch, &PathWatch::routeChanged, [&, lineTarget](const RouteChange& change) {
                Write(RouteChangeJsonLine(
                    change, run.stats.addresses(), run.watch.WallTimeOf(change.timeUs), lineTarget));
            });
        }
        if (live && !several)
            QObject::connect(&run.watch, &PathWatch::roundFinished, [&] { live->Draw(run.Hops()); });
        else if (live)
            QObject::connect(&run.watch, &PathWatch::roundFinished, &redraw, [&] {
                if (!redraw.isActive())
                    redraw.start();
            });
        QObject::connect(&stops, &StopSignals::stopRequested, &run.watch, [&] {
            stopped = true;
            run.watch.StopNow();
        });
        QObject::connect(
            &run.watch, &PathWatch::finished, &run.watch, // a queued call dies with the watch
            [&] {
                if (++finished == runs.size())
                    QCoreApplication::quit();
            },
            Qt::QueuedConnection);
    }
    // Target i of n starts i/n of an interval after the first, so that the rounds of many
    // targets spread over the interval instead of leaving all at once.
    // Offsets from one moment, and the last target started first: starting the first
    // target sends its round at once, which on a busy machine can take longer than an
    // offset; the others only set their timers.
    TickClock& clock = *runs.front()->watch.platform().clock;
    const int64_t firstUs = clock.MonotonicMicros();
    for (size_t i = runs.size(); i-- > 0;) {
        const int64_t dueUs = firstUs + params.intervalUs * int64_t(i) / int64_t(runs.size());
        runs[i]->params.startDelayUs = std::max<int64_t>(0, dueUs - clock.MonotonicMicros());
        runs[i]->watch.Start(runs[i]->params);
    }
    if (std::any_of(runs.begin(), runs.end(), [](const auto& run) { return !run->watch.done(); }))
        QCoreApplication::exec();
    redraw.stop();

    if (live && !several) {
        live->Draw(runs.front()->Hops()); // the last state stays on the screen
    } else if (live) {
        live->Draw(sections());
    } else if (options.format == ReportFormat::Json) {
        for (const std::unique_ptr<TargetRun>& run : runs) {
            run->info.rounds = run->watch.roundsSent();
            Write(SummaryJsonLine(run->info, run->Hops(), run->target.name));
        }
    } else if (options.format == ReportFormat::Csv && !several) {
        Write(SummaryCsv(runs.front()->Hops()));
    } else if (options.format == ReportFormat::Csv) {
        std::vector<TargetSummary> summaries;
        for (const std::unique_ptr<TargetRun>& run : runs)
            summaries.push_back({ run->target.host, run->target.name, run->Hops() });
        Write(SummaryCsv(summaries));
    } else {
        QByteArray text;
        for (const std::unique_ptr<TargetRun>& run : runs) {
            if (several)
                text += (text.isEmpty() ? QString() : QStringLiteral("\n")).toUtf8() + run->Heading().toUtf8() + '\n';
            for (const TableLine& line : SummaryTable(run->Hops()))
                text += line.text.toUtf8() + '\n';
        }
        Write(text);
    }
    // After the terminal's report, which a failure here must not cost. Only one target's:
    // the options refuse --html with several.
    bool written = true;
    if (!options.htmlFile.isEmpty()) {
        const TargetRun& run = *runs.front();
        const HtmlReportContext context { run.target.host, run.params.target, QSysInfo::machineHostName(),
            run.watch.WallTimeOf(run.watch.RoundDueUs(0)).toLocalTime(), QDateTime::currentDateTime(),
            run.watch.RoundDueUs(0), params.intervalUs, run.watch.roundsSent(),
            QStringLiteral("hoplantern-cli " HOPLANTERN_VERSION) };
        const QByteArray html
            = HtmlReport(run.stats, context, [&](const NetAddress& a) { return run.watch.NameOf(a); });
        written = SaveReport(options.htmlFile, html, &error);
        if (!written)
            ReportNotWritten(error);
    }
    // An agent keeps serving its last figures after --count's rounds, until it is stopped,
    // so that a scraper's next look sees every round counted.
    const bool sendFailed
        = std::any_of(runs.begin(), runs.end(), [](const auto& run) { return run->watch.sendError() != 0; });
    if (metrics && !stopped && !sendFailed) {
        QObject::connect(&stops, &StopSignals::stopRequested, qApp, &QCoreApplication::quit);
        QCoreApplication::exec();
    }
    int status = written ? kTraced : kCannotWriteReport;
    for (const std::unique_ptr<TargetRun>& run : runs) {
        if (run->watch.sendError() != 0) {
            PrintErr(QStringLiteral("hoplantern-cli: %1: %2\n")
                         .arg(run->target.host, QString::fromLocal8Bit(std::strerror(run->watch.sendError()))));
            status = kCannotSend;
        }
    }
    return status;
}
