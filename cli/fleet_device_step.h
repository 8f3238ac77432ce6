// One device of a fleet backup: its configuration backed up into a file, and the outcome in the
// single-device command's terms (exit code, bytes, the cause of a failure).
//
// Contract: PrepareFleetDeviceSteps runs on the main thread before the fleet run, after the
// transfer hooks, the web and TFTP ports and the log sink are set for the process. Then
// BackUpFleetDevice may be called from any worker thread, many at once; each call is bound to its
// own device and writes job.targetPath only (a temporary file beside it, replaced in one step once
// the whole text has arrived). Diagnostics and message boxes go to standard error when verbose.
#pragma once

#include <string>

#include "cli/cli_io.h"
#include "fleet/fleet_run.h"

struct FleetDeviceJob {
    std::string host, userName, password, targetPath;
};

void PrepareFleetDeviceSteps(const CliIo& io, bool verbose);
FleetDeviceBackup BackUpFleetDevice(const FleetDeviceJob& job);
