#pragma once
#include "targets_file.h"
#include "trace_parameters.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

enum class ReportFormat { Text, Csv, Json };

struct CliOptions {
    QString host; // the one HOST of a trace, the first target of a watch
    // A watch's targets: the HOSTs given, then those of --targets FILE.
    std::vector<WatchTarget> targets;
    // Watching several targets (more than one HOST, or --targets): every line of the
    // output says which target it is about. One HOST prints as it always did.
    bool severalTargets = false;
    int tries = TraceParameters().m_nTries;
    int hops = TraceParameters().m_nHops;
    int timeout = TraceParameters().m_nTimeout;
    bool lookups = true;
    ReportFormat format = ReportFormat::Text;
    AddressChoice family = AddressChoice::Auto; // -4 or -6
    bool fixedWait = false; // rounds paced by the full wait time
    bool fixedFlow = false; // every probe on one flow
    bool version = false; // -V/--version was given
    // Watching: rounds every interval until interrupted, or `count` of them (0: no limit).
    bool watch = false;
    int64_t count = 0;
    double intervalS = 1;
    bool report = false; // --report: only the final table, even on a terminal
    bool inTargetsFile = false; // the usage error is in the targets file, not the command line
    QString htmlFile; // --html: where to write the HTML report when the watch ends; empty: none
    // --listen: serve metrics over HTTP on exactly this address and port (none: not at all).
    QString listenAddress;
    uint16_t listenPort = 0;
};

// Parses the command line (arguments without the program name). On a usage error
// returns false with the reason in *error; with -h/--help, or -V/--version (which also
// sets options->version), returns false with *error empty.
bool ParseCliOptions(const QStringList& args, CliOptions* options, QString* error);

QString CliUsage();
// "hoplantern-cli VERSION", a line.
QString CliVersion();
