// morvane-cli fleet-backup: every device of an inventory backed up into a store, with a report
// line per device, a summary, and one history commit per run.
//
// Contract: main thread, after the options are parsed; registers the transfer hooks and the
// toolkit for this process, as the single-device commands do.
#pragma once

#include "cli/cli_io.h"
#include "cli/cli_options.h"

int RunFleetBackupCommand(const CliOptions& options, const CliIo& io);
