#pragma once
#include "trace_parameters.h"

#include <QString>
#include <QStringList>

#include <cstdint>

enum class ReportFormat { Text, Csv, Json };

struct CliOptions {
    QString host;
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
