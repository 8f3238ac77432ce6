#include "cli/fleet_device_step.h"

#include <mutex>

#include "app/commands.h"
#include "cli/cli_outcome.h"
#include "cli/cli_reporting.h"
#include "cli/cli_toolkit.h"
#include "spine/shared_state.h"

namespace {

const CliIo* fleetIo = nullptr;
bool fleetVerbose = false;

void StepOut(std::string_view text) {
    fleetIo->writeOut(text);
}
void StepErr(std::string_view text) {
    if (fleetVerbose) fleetIo->writeErr(text);
}

// What one device's command writes: nothing on standard output (the fleet reports each device
// itself), standard error only when verbose, and no progress bar.
const CliIo stepIo{StepOut, StepErr, false};

// Today's single-device command runs on the process-wide records: one device at a time.
std::mutex stepLock;

// The cause of a failure that left no error panel behind, by exit code.
struct CauseRow {
    int exitCode;
    const char* cause;
};

constexpr CauseRow kCauses[] = {
    {EXIT_USAGE, "the host or the user name is empty"},
    {EXIT_NOT_TAVIO, "the host is not a recognised Tavio, or is an unsupported product"},
    {EXIT_CREDENTIALS, "the device refused the credentials"},
    {EXIT_NETWORK, "network failure"},
    {EXIT_TRANSFER, "the device never sent its configuration, or the transfer failed"},
    {EXIT_LOCAL_FILE, "the backup file cannot be written"},
    {EXIT_TFTP_PORT, "the TFTP port cannot be opened"},
};

// One line: the panel's first paragraph (its advice is the same for every device), line ends as
// blanks; without a panel, the words for the exit code.
std::string FailureCause(int exitCode, const std::string& panel) {
    if (panel.empty()) {
        for (const CauseRow& row : kCauses)
            if (row.exitCode == exitCode) return row.cause;
        return "failed";
    }
    std::string cause = panel.substr(0, panel.find("\n\n"));
    for (char& c : cause)
        if (c == '\n' || c == '\r') c = ' ';
    return cause;
}

}  // namespace

void PrepareFleetDeviceSteps(const CliIo& io, bool verbose) {
    fleetIo = &io;
    fleetVerbose = verbose;
}

FleetDeviceBackup BackUpFleetDevice(const FleetDeviceJob& job) {
    std::lock_guard guard(stepLock);
    StartCliReporting(stepIo, true);
    SetHost(job.host.c_str());
    SetUserName(job.userName.c_str());
    SetPassword(job.password.c_str());
    RegisterCliToolkit(CliToolkitSetup{job.host, job.userName, job.password, job.targetPath, false,
                                       fleetVerbose, &stepIo});
    const CommandReport report = RunBackupCommand(nullptr, &ConnectionSettings);
    FinishProgressLine();
    FleetDeviceBackup backup;
    backup.exitCode = ExitCodeForCommand(report.Result, LastReportedError());
    backup.bytes = report.Bytes;
    if (backup.exitCode != EXIT_OK)
        backup.cause = FailureCause(backup.exitCode, LastReportedPanel());
    return backup;
}
