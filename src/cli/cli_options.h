#pragma once
#include "trace_parameters.h"

#include <QString>
#include <QStringList>

enum class ReportFormat { Text, Csv, Json };

struct CliOptions {
    QString host;
    int tries = TraceParameters().m_nTries;
    int hops = TraceParameters().m_nHops;
    int timeout = TraceParameters().m_nTimeout;
    bool lookups = true;
    bool fixedWait = false;
    ReportFormat format = ReportFormat::Text;
};

// Parses the command line (arguments without the program name). On a usage error
// returns false with the reason in *error; with -h/--help returns false, *error empty.
bool ParseCliOptions(const QStringList& args, CliOptions* options, QString* error);

QString CliUsage();
