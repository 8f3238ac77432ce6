// One fleet backup run: every device of the inventory backed up into the store, a result per
// device, the tally, and the changed files for the history commit.
//
// Contract: RunFleetBackup is called on the main thread and returns once every device has
// finished. It runs up to `parallel` devices at once on worker threads (the calling thread is one
// of them), and never two devices whose hosts resolve to the same IPv4 address at the same time:
// those run one after the other on one worker. The front end supplies how one device is backed up
// (backUpOne, on a worker thread, possibly several at once: it writes the device's text into the
// scratch path it is given and says how it went) and where the report goes (onResult, once per
// device as it finishes, in finishing order, one call at a time, on a worker thread; the tally it
// gets already counts that device). A device's file is settled into the store and recorded under
// one lock, so that the store and the record agree whenever that lock is held. What a stored
// device's new text changed (fleet_change.h) is worked out on its worker before that lock.
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
    // Optional: completes a finished device's result from the front end's records (its times,
    // whether it is stale) before it is counted and reported; called as onResult is, just
    // before it, under the same lock.
    void (*stamp)(FleetDeviceResult& result, void* context) = nullptr;
};

struct FleetRunOutcome {
    FleetTally tally;
    std::vector<std::string> changedFiles;  // NAME.cfg of every stored device, relative to STORE
};

inline constexpr int kDefaultFleetParallel = 8;

FleetRunOutcome RunFleetBackup(const std::vector<FleetDevice>& devices, const std::string& store,
                               int parallel, const FleetRunHooks& hooks);

// For an interruption, on any thread: stops the run where it stands and gives what it has
// recorded. A device whose file is being settled is settled and recorded first; from then on no
// device of this process's run is settled into the store or recorded, and RunFleetBackup never
// returns, so the caller is expected to end the process. Every scratch file of a device still
// running stays registered as a temporary file (app/temporary_files.h). After the run has
// returned, *soFar is its whole outcome; false when no run has started.
bool HoldFleetRun(FleetRunOutcome* soFar);
