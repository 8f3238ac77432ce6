// One fleet backup run: every device of the inventory backed up into the store, a result per
// device, the tally, and the history commit.
//
// Contract: main thread. The front end supplies how one device is backed up (backUpOne, which
// writes the device's text into the scratch path it is given and says how it went) and where the
// report goes (onResult, called once per device as it finishes, in finishing order). Devices run
// one after another.
#pragma once

#include <string>
#include <vector>

#include "fleet/fleet_inventory.h"
#include "fleet/fleet_report.h"

struct FleetDeviceBackup {
    int exitCode = 0;  // the single-device backup's exit code; 0 when the text was stored
    std::uint64_t bytes = 0;
    std::string cause;  // for a failure
};

struct FleetRunHooks {
    FleetDeviceBackup (*backUpOne)(const FleetDevice& device, const std::string& scratchPath,
                                   void* context);
    void (*onResult)(const FleetDeviceResult& result, const FleetTally& tally, void* context);
    void* context;
};

struct FleetRunOutcome {
    FleetTally tally;
    std::vector<std::string> changedFiles;  // NAME.cfg of every stored device, relative to STORE
};

FleetRunOutcome RunFleetBackup(const std::vector<FleetDevice>& devices, const std::string& store,
                               const FleetRunHooks& hooks);
