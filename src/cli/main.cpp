// hoplantern-cli: one trace on the same engine as the window, printed when it is over.
#include "cli_options.h"
#include "privileges.h"
#include "progress_line.h"
#include "report.h"
#include "trace_engine.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstring>
#include <memory>
#include <unistd.h>

namespace {

enum ExitCode { kTraced = 0, kUnresolved = 1, kUsage = 2, kCannotReceive = 3, kCannotSend = 4 };

void PrintErr(const QString& text)
{
    std::fputs(text.toLocal8Bit().constData(), stderr);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("hoplantern-cli"));

    CliOptions options;
    QString error;
    if (!ParseCliOptions(app.arguments().mid(1), &options, &error)) {
        if (error.isEmpty()) {
            std::fputs((options.version ? CliVersion() : CliUsage()).toLocal8Bit().constData(), stdout);
            return kTraced;
        }
        PrintErr(QStringLiteral("hoplantern-cli: %1\n%2").arg(error, CliUsage()));
        return kUsage;
    }

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
    if (!engine.CanReceive()) {
        PrintErr(QStringLiteral("hoplantern-cli: %1: %2\n"
                                "No ICMP answers can be received: neither a raw ICMP socket nor the probe sockets'\n"
                                "error queues are available to this process. Grant it the raw-socket capability once:\n"
                                "  sudo setcap cap_net_raw+ep %3\n")
                     .arg(failures.value(0), QString::fromLocal8Bit(std::strerror(socketError)),
                         QCoreApplication::applicationFilePath()));
        return kCannotReceive;
    }
    for (const QString& failure : failures)
        PrintErr(QStringLiteral("hoplantern-cli: warning: %1\n").arg(failure));

    std::unique_ptr<ProgressLine> progress;
    if (isatty(STDERR_FILENO))
        progress = std::make_unique<ProgressLine>(engine, STDERR_FILENO);

    QObject::connect(&engine, &TraceEngine::traceFinished, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    engine.OnOK(params);
    if (!engine.finished())
        app.exec();
    if (progress)
        progress->Clear();

    TraceReport report;
    report.host = options.host.toStdString();
    const NetAddress traced = engine.targetAddress();
    report.target = traced.valid() ? traced.ToText() : std::string();
    report.status = engine.status().toStdString();
    report.family = options.family != AddressChoice::Auto ? int(options.family) : int(traced.family);
    report.failed = engine.resolveFailed();
    report.probed = traced.valid();
    const std::string out = FormatReport(rows, report, options.format);
    std::fwrite(out.data(), 1, out.size(), stdout);
    std::fflush(stdout);

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
