// What every device-facing morvane-cli command sets up first: where reports and diagnostic lines
// go, the transfer hooks, and the ports and deadlines from the options.
//
// Contract: main thread, once per run, after the options are parsed and before any device is
// contacted.
#pragma once

#include "cli/cli_io.h"
#include "cli/cli_options.h"

// quietReports: error panels are kept for the outcome instead of being written (--json, fleet).
void StartCliSession(const CliOptions& options, const CliIo& io, bool quietReports);
