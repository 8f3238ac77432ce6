#include "cli/fleet_command.h"

#include <fstream>
#include <iostream>
#include <iterator>
#include <mutex>
#include <set>
#include <sstream>

#include "app/config_file_hooks.h"
#include "app/temporary_files.h"
#include "cli/cli_interrupt.h"
#include "cli/cli_outcome.h"
#include "cli/cli_reporting.h"
#include "cli/cli_session.h"
#include "cli/fleet_device_step.h"
#include "cli/fleet_page_output.h"
#include "cli/password_source.h"
#include "devicecmd/device_settings.h"
#include "fleet/fleet_history.h"
#include "fleet/fleet_atomic_file.h"
#include "fleet/fleet_inventory.h"
#include "fleet/fleet_metrics.h"
#include "fleet/fleet_page.h"
#include "fleet/fleet_run.h"
#include "fleet/fleet_state.h"
#include "fleet/fleet_store.h"
#include "platform/files.h"
#include "platform/log.h"
#include "platform/threads.h"
#include "spine/count_text.h"
#include "spine/transfer_hooks.h"
#include "tftp/tftp_settings.h"

namespace {

// The run as the hooks see it: the devices' credentials and where the report goes.
struct FleetCommandRun {
    const CliOptions& options;
    const CliIo& io;
    std::vector<std::string> passwords;  // by device, in inventory order
    const std::vector<FleetDevice>& devices;
    bool progressShown = false;
    // Every device's result, in finishing order: for the history commit's message and the
    // run's records.
    std::vector<FleetDeviceResult> results;
    // The store's state, read once the store is locked; each finished device's attempt is
    // recorded in it (under the run's lock) and it is written back when the run is recorded.
    FleetState state;
};

bool ReadWholeText(const std::string& path, std::string* text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream whole;
    whole << in.rdbuf();
    *text = whole.str();
    return !in.bad();
}

// The inventory's text: "-" is standard input.
bool ReadInventory(const std::string& path, std::string* text) {
    if (path != "-") return ReadWholeText(path, text);
    text->assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    return !std::cin.bad();
}

bool IsAbsolutePath(const std::string& path) {
    if (!path.empty() && (path[0] == '/' || path[0] == '\\')) return true;
    return path.size() >= 2 && path[1] == ':';  // a drive letter
}

// A relative password_file is taken from the inventory's folder (standard input: the working
// directory), so that a run does not depend on where it was started from.
void AnchorPasswordFiles(const std::string& inventoryPath, std::vector<FleetDevice>* devices) {
    if (inventoryPath == "-") return;
    const std::size_t slash = inventoryPath.find_last_of("/\\");
    if (slash == std::string::npos) return;
    const std::string folder = inventoryPath.substr(0, slash + 1);
    for (FleetDevice& device : *devices)
        if (!device.passwordFile.empty() && !IsAbsolutePath(device.passwordFile))
            device.passwordFile = folder + device.passwordFile;
}

// Every device's password: its password_file, else the command's usual sources (asked once,
// and only when some device needs them). False with a reason.
bool GatherPasswords(const CliOptions& options, const std::vector<FleetDevice>& devices,
                     std::vector<std::string>* passwords, std::string* error) {
    std::string usual;
    bool haveUsual = false;
    for (const FleetDevice& device : devices) {
        std::string password;
        if (!device.passwordFile.empty()) {
            if (!ReadPasswordFile(device.passwordFile, &password, error)) {
                *error = "line " + std::to_string(device.line) + ": " + *error;
                return false;
            }
        } else {
            if (!haveUsual && !ResolvePassword(options, &usual, error)) return false;
            haveUsual = true;
            password = usual;
        }
        passwords->push_back(std::move(password));
    }
    return true;
}

FleetDeviceBackup BackUpOne(const FleetDevice& device, const std::string& scratchPath,
                            void* context) {
    const auto& run = *static_cast<const FleetCommandRun*>(context);
    const std::size_t index = static_cast<std::size_t>(&device - run.devices.data());
    return BackUpFleetDevice(FleetDeviceJob{
        device.host, device.user.empty() ? run.options.user : device.user, run.passwords[index],
        scratchPath, device.tftpAddress, device.deviceTftpAddress, device.httpPort,
        FleetFilePath(run.options.file, device.name)});
}

void StampResult(FleetDeviceResult& result, void* context) {
    auto& run = *static_cast<FleetCommandRun*>(context);
    StampFleetResult(run.state, result, plat::WallClockSeconds(), run.options.maxAgeHours);
}

void ClearProgress(FleetCommandRun& run) {
    if (!run.progressShown) return;
    run.io.writeErr("\r" + std::string(40, ' ') + "\r");
    run.progressShown = false;
}

void OnResult(const FleetDeviceResult& result, const FleetTally& tally, void* context) {
    auto& run = *static_cast<FleetCommandRun*>(context);
    ClearProgress(run);
    run.results.push_back(result);
    if (run.options.quiet && !run.options.json) {
        // -q: a failed device's line, on standard error, and a diff that --diff asked for.
        if (result.status == FleetDeviceStatus::Failed)
            run.io.writeErr(FleetDeviceLine(result));
        else if (run.options.diff && !result.diff.empty())
            run.io.writeOut(FleetDeviceLine(result) + result.diff);
        return;
    }
    // A changed device's diff goes out with its line, so that parallel devices never interleave.
    run.io.writeOut(run.options.json ? FleetDeviceJson(result, JsonString, run.options.diff)
                    : run.options.diff ? FleetDeviceLine(result) + result.diff
                                       : FleetDeviceLine(result));
    if (run.io.errIsTerminal) {
        run.io.writeErr("\r" + FleetProgressText(tally));
        run.progressShown = true;
    }
}

// Every device file in the store: the changed ones make the commit, and a file the history does
// not hold yet (a store that has just become a work tree) joins it.
std::vector<std::string> RecordedFiles(const std::vector<FleetDevice>& devices,
                                       const std::string& store) {
    std::vector<std::string> files;
    for (const FleetDevice& device : devices)
        if (plat::FileExists(FleetFilePath(store, device.name).c_str()))
            files.push_back(device.name + ".cfg");
    return files;
}

// A warning for each password file of the run (--password-file, the inventory's password_file)
// that others can read, once per file.
void WarnOfOpenPasswordFiles(const CliOptions& options, const std::vector<FleetDevice>& devices,
                             const CliIo& io) {
    std::set<std::string> files;
    if (!options.passwordFile.empty()) files.insert(options.passwordFile);
    for (const FleetDevice& device : devices)
        if (!device.passwordFile.empty()) files.insert(device.passwordFile);
    for (const std::string& file : files) io.writeErr(PasswordFileWarning(file));
}

// A run refused before any device is contacted; with --json its reason is an object too.
int Refuse(const CliOptions& options, const CliIo& io, const std::string& reason) {
    io.writeErr("morvane-cli: " + reason + "\n");
    if (options.json) io.writeOut(UsageErrorJson(reason));
    return EXIT_USAGE;
}

// The store's lock for this run, released on every way out of the command (and by the system
// when the process ends).
struct StoreLock {
    std::string path;
    plat::FileHandle file = plat::kNoFile;
    StoreLock() = default;
    StoreLock(const StoreLock&) = delete;
    StoreLock& operator=(const StoreLock&) = delete;
    ~StoreLock() { plat::FileLockRelease(path.c_str(), file); }
};

// Empty when the lock is taken; otherwise why this run may not go on.
std::string LockStore(const std::string& store, StoreLock& lock) {
    const std::string path = FleetLockPath(store);
    long holder = 0;
    lock.path = path;
    switch (plat::FileLockTake(path.c_str(), &lock.file, &holder)) {
        case plat::FileLockResult::Taken:
            return {};
        case plat::FileLockResult::Held:
            return "the store " + store + " is in use by another fleet-backup run" +
                   (holder > 0 ? " (process " + std::to_string(holder) + ")" : std::string()) +
                   "; no device was contacted. Try again once it has finished.";
        case plat::FileLockResult::Failed:
            break;
    }
    return "the store " + store + " cannot be locked: its lock file " + path +
           " cannot be created";
}

// What an interruption needs to finish the run as well as it can.
struct FleetInterruptRecord {
    FleetCommandRun& run;
    const std::vector<FleetDevice>& devices;
    const std::string& store;
    const StoreLock& lock;
    bool history = false;
    std::mutex finishing;  // held by the main thread from the run's end to its summary
};

// A line of the report about the history: on standard output beside the summary, on standard
// error when standard output carries JSON; none with -q.
void HistoryNote(const FleetCommandRun& run, const std::string& text) {
    if (run.options.quiet) return;
    if (run.options.json)
        run.io.writeErr("morvane-cli: " + text + "\n");
    else
        run.io.writeOut("History: " + text + "\n");
}

std::vector<std::string> DeviceNames(std::vector<std::string> files) {
    for (std::string& file : files)
        if (file.size() > 4 && file.ends_with(".cfg")) file.resize(file.size() - 4);
    return files;
}

// The history commit (only when a device's file was added or changed) and its push; false when
// either failed, reported.
bool RecordHistory(FleetInterruptRecord& record, const FleetTally& tally,
                   const std::string& note) {
    const FleetCommandRun& run = record.run;
    std::string error;
    HistoryChanges changes;
    if (!StageStoreFiles(record.store, RecordedFiles(record.devices, record.store), &changes,
                         &error)) {
        run.io.writeErr("morvane-cli: the history commit failed: " + error + "\n");
        return false;
    }
    std::vector<FleetDeviceResult> failed;
    for (const FleetDeviceResult& result : run.results)
        if (result.status == FleetDeviceStatus::Failed) failed.push_back(result);
    const std::string message = FleetCommitMessage(tally, DeviceNames(changes.added),
                                                   DeviceNames(changes.changed), failed) +
                                note;
    switch (CommitStoreHistory(record.store, changes, message, &error)) {
        case HistoryCommit::NothingChanged:
            HistoryNote(run, "nothing was added or changed, so no commit");
            return true;
        case HistoryCommit::Detached:
            run.io.writeErr("morvane-cli: the history of " + record.store +
                            " has a detached HEAD: the files are stored, but not committed "
                            "(check out a branch to record the next run)\n");
            return false;
        case HistoryCommit::Failed:
            run.io.writeErr("morvane-cli: the history commit failed: " + error + "\n");
            return false;
        case HistoryCommit::Made:
            break;
    }
    const std::string counts = std::to_string(changes.added.size()) + " added, " +
                               std::to_string(changes.changed.size()) + " changed";
    if (!run.options.gitPush) {
        HistoryNote(run, "committed (" + counts + ")");
        return true;
    }
    if (!PushStoreHistory(record.store, &error)) {
        HistoryNote(run, "committed (" + counts + ")");
        run.io.writeErr("morvane-cli: the push of the history failed, the commit stays in " +
                        record.store + ": " + error + "\n");
        return false;
    }
    HistoryNote(run, "committed (" + counts + ") and pushed");
    return true;
}

// The store's state and, when asked for, the metrics file, written as the run is recorded.
// A state that cannot be written is only reported (the next run starts afresh); metrics that
// cannot be written fail the run, as its monitoring would miss it.
bool WriteRunRecords(const FleetInterruptRecord& record, const FleetTally& tally) {
    const FleetCommandRun& run = record.run;
    std::string error;
    if (!SaveFleetState(record.store, run.state, &error))
        run.io.writeErr("morvane-cli: warning: the state of " + record.store +
                        " could not be written: " + error + "\n");
    if (run.options.metricsFile.empty()) return true;
    const std::string metrics = FleetMetricsText(run.results, tally, plat::WallClockSeconds());
    if (WriteFileAtomically(run.options.metricsFile, metrics, false, &error)) return true;
    run.io.writeErr("morvane-cli: the metrics file " + run.options.metricsFile +
                    " could not be written: " + error + "\n");
    return false;
}

// --html FILE: the run's page, from every result so far (a run cut short has fewer than its
// devices); false when it cannot be written, reported.
bool WriteRunPage(const FleetInterruptRecord& record, const FleetTally& tally) {
    const FleetCommandRun& run = record.run;
    const FleetPageRun page{record.store, plat::WallClockSeconds(),
                            tally.Done() < tally.devices};
    std::string error;
    if (WriteFleetPageFile(run.options.htmlFile, FleetPage(page, tally, run.results), &error))
        return true;
    run.io.writeErr("morvane-cli: the page " + run.options.htmlFile + " cannot be written (" +
                    error + "); the devices' files are stored\n");
    return false;
}

// The store's records, the history commit, the page and the summary line; the run's exit code
// (metrics or a page that cannot be written, a failed commit or push, or a detached HEAD fail a
// run that would have succeeded).
int CommitAndReport(FleetInterruptRecord& record, const FleetTally& tally, int code,
                    const std::string& note) {
    if (!WriteRunRecords(record, tally) && code == EXIT_OK) code = EXIT_FLEET_FAILED;
    if (record.history && !RecordHistory(record, tally, note) && code == EXIT_OK)
        code = EXIT_FLEET_FAILED;
    if (!record.run.options.htmlFile.empty() && !WriteRunPage(record, tally) && code == EXIT_OK)
        code = EXIT_FLEET_FAILED;
    if (record.run.options.json)
        record.run.io.writeOut(FleetSummaryJson(tally, code, JsonString));
    else if (!record.run.options.quiet)
        record.run.io.writeOut(FleetSummaryLine(tally, record.run.options.maxAgeHours > 0));
    return code;
}

// While devices run: the run is held where it stands (what is recorded is what the store
// holds), the scratch files of the devices still running go, what was stored is committed.
void InterruptRun(int signal, void* context) {
    auto& record = *static_cast<FleetInterruptRecord*>(context);
    FleetRunOutcome soFar;
    const bool held = HoldFleetRun(&soFar);
    RemoveTemporaryFilesForGood();
    if (held) {
        ClearProgress(record.run);
        CommitAndReport(record, soFar.tally, InterruptedExitCode(signal),
                        "\n\nInterrupted after " + std::to_string(soFar.tally.Done()) + " of " +
                            CountText(static_cast<std::uint64_t>(soFar.tally.devices), "device") + ".");
    }
    plat::FileLockRelease(record.lock.path.c_str(), record.lock.file);
    EndInterrupted(signal);
}

// Once every device has finished, the main thread commits and reports as usual; the process
// then ends as interrupted.
void InterruptFinish(int signal, void* context) {
    auto& record = *static_cast<FleetInterruptRecord*>(context);
    std::lock_guard wait(record.finishing);
    RemoveTemporaryFilesForGood();
    plat::FileLockRelease(record.lock.path.c_str(), record.lock.file);
    EndInterrupted(signal);
}

}  // namespace

int RunFleetBackupCommand(const CliOptions& options, const CliIo& io) {
    const std::string& inventoryPath = options.host;
    const std::string& store = options.file;
    std::string text, error;
    if (!ReadInventory(inventoryPath, &text))
        return Refuse(options, io, "cannot read the inventory " + inventoryPath);
    std::vector<FleetDevice> devices;
    std::string warning;
    if (!ParseFleetInventory(text, &devices, &error, &warning))
        return Refuse(options, io, inventoryPath + ": " + error);
    if (!warning.empty()) io.writeErr("morvane-cli: " + inventoryPath + ": " + warning + "\n");
    if (!options.only.empty() && !SelectFleetDevices(options.only, &devices, &error))
        return Refuse(options, io, "--only: in the inventory " + inventoryPath + ", " + error);
    AnchorPasswordFiles(inventoryPath, &devices);
    if (options.git && !GitProgramAvailable())
        return Refuse(options, io, "--git needs the git program, which cannot be run here");
    FleetCommandRun run{options, io, {}, devices, false, {}, {}};
    if (!GatherPasswords(options, devices, &run.passwords, &error)) {
        const bool fromInventory = error.rfind("line ", 0) == 0;
        return Refuse(options, io, fromInventory ? inventoryPath + ": " + error : error);
    }
    WarnOfOpenPasswordFiles(options, devices, io);
    if (!PrepareFleetStore(store))
        return Refuse(options, io, "the store " + store + " is not a folder and cannot be made one");
    // A page inside the store stays out of its history, and never takes a device's file.
    const std::string pageInStore =
        options.htmlFile.empty() ? std::string() : FleetPagePathInStore(options.htmlFile, store);
    for (const FleetDevice& device : devices)
        if (!pageInStore.empty() && pageInStore == device.name + ".cfg")
            return Refuse(options, io, "--html " + options.htmlFile + " is the file of the device " +
                                  device.name);
    StoreLock lock;
    if (const std::string refusal = LockStore(store, lock); !refusal.empty())
        return Refuse(options, io, refusal);
    SweepFleetScratch(store);
    if (LoadFleetState(store, &run.state, &error) == FleetStateLoad::Damaged)
        io.writeErr("morvane-cli: warning: the state file " + FleetStatePath(store) +
                    " is damaged (" + error + "); starting afresh: every device's last good "
                    "backup is taken as unknown\n");
    bool history = StoreHasHistory(store);
    if (options.git && !history && StoreInWorkTree(store))
        history = true;  // an enclosing work tree records the store's paths
    if (options.git && !history) {
        if (!StartStoreHistory(store, &error))
            return Refuse(options, io, "cannot start the history of " + store + ": " + error);
        history = true;
    }
    if (history && !options.git && !GitProgramAvailable()) {
        io.writeErr("morvane-cli: " + store +
                    " has a history, but the git program cannot be run: this run is not "
                    "recorded\n");
        history = false;
    }

    if (history) {
        std::vector<std::string> pageFiles;
        if (!pageInStore.empty()) pageFiles = {pageInStore, FleetPageScratchPath(pageInStore)};
        ExcludeToolFiles(store, pageFiles);
        io.writeErr(HistoryPrivacyWarning(store));
    }

    StartCliSession(options, io, true);

    FleetInterruptRecord interrupt{run, devices, store, lock, history, {}};
    SetCliInterruptAction(InterruptRun, &interrupt);
    const FleetRunOutcome outcome =
        RunFleetBackup(devices, store, options.parallel, FleetRunHooks{BackUpOne, OnResult, &run, StampResult});
    int code = outcome.tally.failed == 0 ? EXIT_OK : EXIT_FLEET_FAILED;
    {
        std::lock_guard finishing(interrupt.finishing);
        SetCliInterruptAction(InterruptFinish, &interrupt);
        ClearProgress(run);
        code = CommitAndReport(interrupt, outcome.tally, code, "");
    }
    SetCliInterruptAction(nullptr, nullptr);
    plat::SetLogSink(nullptr);  // later lines go nowhere (RunMorvaneCli keeps them off stdout)
    return code;
}
