#pragma once
#include "cli_options.h"
#include "hop_row_list.h"

#include <string>

// What the tracer prints at the end: the final table, the target and the status line.
struct TraceReport {
    std::string host; // as typed
    std::string target; // dotted address, or "unknown"
    std::string status;
    int family = 4; // of the address traced: 4 or 6
};

std::string FormatReport(const HopRowList& rows, const TraceReport& report, ReportFormat format);
