// hoplantern-cli: one trace on the same engine as the window, printed when it is over.
#include "cli_options.h"
#include "exit_codes.h"
#include "privileges.h"
#include "progress_line.h"
#include "receive_check.h"
#include "report.h"
#include "stop_signals.h"
#include "trace_engine.h"
#include "watch_run.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstring>
#include <memory>
#include <unistd.h>

namespace {

void PrintErr(const QString& text)
{
    std::fputs(text.toLocal8Bit().constData(), stderr);
}

} // namespace

int main(int argc, char** argv)
{
    StopSignals::Block(); // before any thread starts, so that none takes them
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("hoplantern-cli"));

    CliOptions options;
    QString error;
    if (!ParseCliOptions(app.arguments().mid(1), &options, &error)) {
        if (error.isEmpty()) {
            std::fputs((options.version ? CliVersion() : CliUsage()).toLocal8Bit().constData(), stdout);
            return kTraced;
        }
        // A fault in the targets file is the file's: the usage would only hide it.
        PrintErr(QStringLiteral("hoplantern-cli: %1\n%2").arg(error, options.inTargetsFile ? QString() : CliUsage()));
        return kUsage;
    }

    StopSignals stops;
    if (options.watch)
        return RunWatch(options, stops);

    HopRowList rows;
    TraceEngine engine(rows, TracePlatform::System());
    TraceParameters params;
    params.m_strHost = options.host;
    params.m_nTries = options.tries;
    params.m_nHops = options.hops;
    params.m_nTimeout = options.timeout;
    params.m_bLookups = options.lookups;
    params.m_bFixedWait = options.fixedWait;
    params.m_bFixedFlow = options.fixedFlow;
    params.m_family = options.family;

    const QStringList failures = engine.OpenIcmpSocket(params.m_nTimeout);
    const int socketError = engine.platform().icmp->LastError();
    DropAllCapabilities(); // the raw socket, if any, is open: nothing else needs privilege
    if (!ReportIcmpSetUp(engine.CanReceive(), failures, socketError))
        return kCannotReceive;

    std::unique_ptr<ProgressLine> progress;
    if (isatty(STDERR_FILENO))
        progress = std::make_unique<ProgressLine>(engine, STDERR_FILENO);

    QObject::connect(&engine, &TraceEngine::traceFinished, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    // Interrupted: the rows found so far are printed, marked unfinished.
    bool interrupted = false;
    QObject::connect(&stops, &StopSignals::stopRequested, &app, [&] {
        interrupted = true;
        app.quit();
    });
    engine.OnOK(params);
    if (!engine.finished())
        app.exec();
    if (progress)
        progress->Clear();

    TraceReport report;
    report.host = options.host.toStdString();
    const NetAddress traced = engine.targetAddress();
    report.target = traced.valid() ? traced.ToText() : std::string();
    report.status = interrupted ? std::string("Interrupted.") : engine.status().toStdString();
    report.finished = !interrupted;
    report.family = options.family != AddressChoice::Auto ? int(options.family) : int(traced.family);
    report.failed = engine.resolveFailed();
    report.probed = traced.valid();
    const std::string out = FormatReport(rows, report, options.format);
    std::fwrite(out.data(), 1, out.size(), stdout);
    std::fflush(stdout);

    if (interrupted)
        return kInterrupted;
    if (engine.resolveFailed()) {
        // "Lookup of HOST failed dramatically", said once: JSON carries it as its status.
        if (options.format != ReportFormat::Json)
            PrintErr(engine.status() + u'\n');
        return kUnresolved;
    }
    if (engine.sendError() != 0) {
        PrintErr(
            QStringLiteral("hoplantern-cli: %1: %2\n").arg(options.host, engine.status())); // "Network is unreachable"
        return kCannotSend;
    }
    return kTraced;
}
