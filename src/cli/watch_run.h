#pragma once
#include "cli_options.h"

class StopSignals;

// hoplantern-cli --watch: watches options.host until `stops` reports a signal or the
// count is reached, printing as the options ask. Returns the exit status.
int RunWatch(const CliOptions& options, StopSignals& stops);
