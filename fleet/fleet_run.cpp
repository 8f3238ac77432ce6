#include "fleet/fleet_run.h"

#include "fleet/fleet_store.h"
#include "platform/files.h"
#include "platform/threads.h"

namespace {

double SecondsSince(std::uint64_t startMs) {
    return static_cast<double>(plat::MonotonicMs() - startMs) / 1000.0;
}

FleetDeviceResult BackUpDevice(const FleetDevice& device, const std::string& store,
                               const FleetRunHooks& hooks) {
    const std::uint64_t startMs = plat::MonotonicMs();
    FleetDeviceResult result;
    result.device = device;
    const std::string scratch = FleetScratchPath(store, device.name);
    plat::FileRemove(scratch.c_str());  // left by a run that was cut short
    const FleetDeviceBackup backup = hooks.backUpOne(device, scratch, hooks.context);
    result.exitCode = backup.exitCode;
    result.bytes = backup.bytes;
    result.cause = backup.cause;
    if (backup.exitCode != 0) {
        plat::FileRemove(scratch.c_str());
        result.status = FleetDeviceStatus::Failed;
    } else {
        switch (SettleFleetFile(scratch, FleetFilePath(store, device.name))) {
            case FleetFileVerdict::Stored:
                result.status = FleetDeviceStatus::Stored;
                break;
            case FleetFileVerdict::Unchanged:
                result.status = FleetDeviceStatus::Unchanged;
                break;
            case FleetFileVerdict::Failed:
                result.status = FleetDeviceStatus::Failed;
                result.exitCode = 6;
                result.cause = "the backup could not be moved into the store";
                break;
        }
    }
    result.seconds = SecondsSince(startMs);
    return result;
}

}  // namespace

FleetRunOutcome RunFleetBackup(const std::vector<FleetDevice>& devices, const std::string& store,
                               const FleetRunHooks& hooks) {
    const std::uint64_t startMs = plat::MonotonicMs();
    FleetRunOutcome outcome;
    outcome.tally.devices = static_cast<int>(devices.size());
    for (const FleetDevice& device : devices) {
        const FleetDeviceResult result = BackUpDevice(device, store, hooks);
        CountFleetResult(outcome.tally, result);
        if (result.status == FleetDeviceStatus::Stored)
            outcome.changedFiles.push_back(device.name + ".cfg");
        outcome.tally.seconds = SecondsSince(startMs);
        hooks.onResult(result, outcome.tally, hooks.context);
    }
    outcome.tally.seconds = SecondsSince(startMs);
    return outcome;
}
