// One device of a fleet backup: its configuration backed up into a file, and the outcome in the
// single-device command's terms (exit code, bytes, the cause of a failure).
//
// Contract: BackUpFleetDevice may be called from any worker thread, many at once, after the
// transfer hooks, the ports and the log sink are set for the process; each call is bound to its
// own device and writes job.targetPath only (a temporary file beside it, replaced in one step once
// the whole text has arrived). Its diagnostic lines go to the log sink (standard error when
// verbose).
#pragma once

#include <cstdint>
#include <string>

#include "fleet/fleet_run.h"

struct FleetDeviceJob {
    std::string host, userName, password, targetPath;
    // The inventory's texts (FleetDevice); empty: the command's own.
    std::string tftpAddress, deviceTftpAddress;
    std::uint16_t httpPort = 0;  // 0: the command's own (--http-port)
    std::string shownPath{};     // the device's file in the store, for the cause of a failure
};

FleetDeviceBackup BackUpFleetDevice(const FleetDeviceJob& job);
