#include "fleet/fleet_run.h"

#include <algorithm>
#include <cctype>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

#include "app/temporary_files.h"
#include "fleet/fleet_change.h"
#include "fleet/fleet_store.h"
#include "platform/files.h"
#include "platform/net.h"
#include "platform/threads.h"

namespace {

double SecondsSince(std::uint64_t startMs) {
    return static_cast<double>(plat::MonotonicMs() - startMs) / 1000.0;
}

// What two inventory lines must not share at the same time: the device's IPv4 address, or the
// host text itself (without case) when the name does not resolve; such a device fails on its own.
std::string AddressKey(const std::string& host) {
    std::uint32_t address = 0;
    bool resolved = false;
    if (plat::NetStartup() == 0) {
        resolved = plat::ResolveIpv4(host.c_str(), &address);
        plat::NetCleanup();
    }
    if (resolved) return plat::FormatIpv4(address);
    std::string key = "name " + host;
    std::transform(key.begin(), key.end(), key.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return key;
}

// The device's backup into its scratch file, outside the run's lock. The scratch file is
// registered as a temporary file from before it can exist until it is settled.
FleetDeviceBackup TransferDevice(const FleetDevice& device, const std::string& scratch,
                                 const FleetRunHooks& hooks) {
    RegisterTemporaryFile(scratch);
    plat::FileRemove(scratch.c_str());  // left by a run that was cut short
    return hooks.backUpOne(device, scratch, hooks.context);
}

// Run's lock held, so that what is recorded and what the store holds always agree: settles the
// scratch file into the store (or drops it) and gives the device's result.
FleetDeviceResult SettleDevice(const FleetDevice& device, const std::string& store,
                               const std::string& scratch, const FleetDeviceBackup& backup,
                               std::uint64_t startMs) {
    FleetDeviceResult result;
    result.device = device;
    result.exitCode = backup.exitCode;
    result.bytes = backup.bytes;
    result.cause = backup.cause;
    if (backup.exitCode != 0) {
        plat::FileRemove(scratch.c_str());
        result.status = FleetDeviceStatus::Failed;
    } else {
        FailureCause cause;
        switch (SettleFleetFile(scratch, FleetFilePath(store, device.name), &cause)) {
            case FleetFileVerdict::Stored:
                result.status = FleetDeviceStatus::Stored;
                break;
            case FleetFileVerdict::Unchanged:
                result.status = FleetDeviceStatus::Unchanged;
                break;
            case FleetFileVerdict::Failed:
                result.status = FleetDeviceStatus::Failed;
                result.exitCode = 6;
                result.cause = CauseLine(cause);
                if (result.cause.empty())
                    result.cause = "the backup could not be moved into the store";
                break;
        }
    }
    UnregisterTemporaryFile(scratch);
    result.seconds = SecondsSince(startMs);
    return result;
}

// The run's shared record: which device is next, which addresses are busy, the tally.
struct FleetRunShared {
    const std::vector<FleetDevice>& devices;
    const std::string& store;
    const FleetRunHooks& hooks;
    std::uint64_t startMs;
    std::mutex lock;  // guards everything below, and the onResult calls
    std::size_t next = 0;
    // An address being backed up, and the devices waiting for it in inventory order.
    std::map<std::string, std::deque<std::size_t>> busy;
    FleetRunOutcome outcome;
};

// Lock held. Counts and reports a finished device.
void Record(FleetRunShared& run, FleetDeviceResult result) {
    if (run.hooks.stamp) run.hooks.stamp(result, run.hooks.context);
    CountFleetResult(run.outcome.tally, result);
    if (result.status == FleetDeviceStatus::Stored)
        run.outcome.changedFiles.push_back(result.device.name + ".cfg");
    run.outcome.tally.seconds = SecondsSince(run.startMs);
    run.hooks.onResult(result, run.outcome.tally, run.hooks.context);
}

// A worker thread: takes devices until none is left. A device whose address is busy waits in
// that address's queue; the worker that holds the address runs it next.
void Work(FleetRunShared& run) {
    for (;;) {
        std::size_t index = 0;
        {
            std::lock_guard guard(run.lock);
            if (run.next >= run.devices.size()) return;
            index = run.next++;
        }
        const std::string key = AddressKey(run.devices[index].host);
        {
            std::lock_guard guard(run.lock);
            const auto held = run.busy.find(key);
            if (held != run.busy.end()) {
                held->second.push_back(index);
                continue;
            }
            run.busy[key];
        }
        for (;;) {
            const FleetDevice& device = run.devices[index];
            const std::uint64_t startMs = plat::MonotonicMs();
            const std::string scratch = FleetScratchPath(run.store, device.name);
            const FleetDeviceBackup backup = TransferDevice(device, scratch, run.hooks);
            // What the new text changes, while the store still holds the old one.
            FleetFileChange change;
            if (backup.exitCode == 0)
                change = CompareWithStoredFile(device, FleetFilePath(run.store, device.name),
                                               scratch);
            std::lock_guard guard(run.lock);
            FleetDeviceResult result = SettleDevice(device, run.store, scratch, backup, startMs);
            if (result.status == FleetDeviceStatus::Stored) {
                result.linesAdded = change.linesAdded;
                result.linesRemoved = change.linesRemoved;
                result.diff = std::move(change.diff);
            }
            Record(run, result);
            std::deque<std::size_t>& waiting = run.busy[key];
            if (waiting.empty()) {
                run.busy.erase(key);
                break;
            }
            index = waiting.front();
            waiting.pop_front();
        }
    }
}

// The run in progress, for HoldFleetRun; after it, what the last run recorded. Never destroyed:
// a hold keeps the lock to the end of the process.
std::mutex& HoldLock() {
    static auto* lock = new std::mutex;
    return *lock;
}
FleetRunShared* activeRun = nullptr;           // guarded by HoldLock
std::optional<FleetRunOutcome> finishedRun;     // guarded by HoldLock

}  // namespace

bool HoldFleetRun(FleetRunOutcome* soFar) {
    HoldLock().lock();
    if (activeRun != nullptr) {
        activeRun->lock.lock();
        activeRun->outcome.tally.seconds = SecondsSince(activeRun->startMs);
        *soFar = activeRun->outcome;
        return true;
    }
    if (!finishedRun) return false;
    *soFar = *finishedRun;
    return true;
}

FleetRunOutcome RunFleetBackup(const std::vector<FleetDevice>& devices, const std::string& store,
                               int parallel, const FleetRunHooks& hooks) {
    FleetRunShared run{devices, store, hooks, plat::MonotonicMs(), {}, 0, {}, {}};
    run.outcome.tally.devices = static_cast<int>(devices.size());
    {
        std::lock_guard guard(HoldLock());
        activeRun = &run;
        finishedRun.reset();
    }
    const std::size_t workers =
        std::min(devices.size(), static_cast<std::size_t>(std::max(parallel, 1)));
    std::vector<std::thread> threads;
    for (std::size_t i = 1; i < workers; ++i) {
        try {
            threads.emplace_back([&run] { Work(run); });
        } catch (const std::system_error&) {
            break;  // fewer workers than asked for; the run still completes
        }
    }
    Work(run);  // the calling thread is one of the workers
    for (std::thread& thread : threads) thread.join();
    run.outcome.tally.seconds = SecondsSince(run.startMs);
    std::lock_guard guard(HoldLock());
    activeRun = nullptr;
    finishedRun = run.outcome;
    return std::move(run.outcome);
}
