#pragma once
#include "cli_options.h"
#include "hop_row_list.h"

#include <string>

// What the tracer prints at the end: the final table, the target and the status line.
struct TraceReport {
    std::string host; // as typed
    std::string target; // the address traced; empty when none was found
    std::string status;
    int family = 0; // 4 or 6: the one asked for, else the traced address's; 0 when neither
    // The trace ended on a failed resolution: the status is the error, which the text
    // report leaves to the caller to say once, on stderr.
    bool failed = false;
    // No probe was sent (the host was never resolved): the rows are no path and are left out.
    bool probed = true;
    // False when the trace was interrupted: the rows are those found so far.
    bool finished = true;
};

std::string FormatReport(const HopRowList& rows, const TraceReport& report, ReportFormat format);
