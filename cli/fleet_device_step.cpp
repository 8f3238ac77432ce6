#include "cli/fleet_device_step.h"

#include <tuple>

#include "app/device_backup.h"
#include "cli/cli_outcome.h"
#include "cli/tftp_address.h"
#include "cli/tftp_port_failure.h"
#include "tftp/tftp_settings.h"

namespace {

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
};

// One line: the failure's cause as the single-device command's line names it (without
// "morvane-cli: ", the report names the device); without one, the panel's first paragraph (its
// advice is the same for every device), line ends as blanks; without a panel, the words for the
// exit code.
std::string FleetFailureCause(int exitCode, const DeviceBackupResult& result) {
    if (!result.cause.Empty()) return CauseLine(result.cause);
    const std::string& panel = result.panel;
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

FleetDeviceBackup BackUpFleetDevice(const FleetDeviceJob& job) {
    DeviceBackupJob backupJob{job.host, job.userName, job.password, job.targetPath};
    backupJob.httpPort = job.httpPort;
    backupJob.shownPath = job.shownPath;
    // An address that does not resolve fails its device as a host would: before it is contacted.
    for (const auto& [text, value, column] :
         {std::tuple{&job.tftpAddress, &backupJob.tftpAddress, "tftp_address"},
          std::tuple{&job.deviceTftpAddress, &backupJob.deviceTftpAddress,
                     "device_tftp_address"}}) {
        if (!text->empty() && !ResolveTftpAddress(*text, value))
            return FleetDeviceBackup{EXIT_NETWORK, 0,
                                     "the " + std::string(column) + " " + *text +
                                         " is no IPv4 address and no name that resolves"};
    }
    const DeviceBackupResult result = BackUpDevice(backupJob);
    FleetDeviceBackup backup;
    backup.exitCode = ExitCodeForCommand(result.result, result.lastError);
    backup.bytes = result.bytes;
    if (backup.exitCode == EXIT_TFTP_PORT) {
        backup.cause =
            TftpPortFailureText(DescribeSocketSetupFailure(result.lastError, result.systemError,
                                                           &result.cause),
                                TftpSettings.Port, TftpSettings.ReadyTimeoutMs);
    } else if (backup.exitCode != EXIT_OK) {
        backup.cause = FleetFailureCause(backup.exitCode, result);
    }
    return backup;
}
