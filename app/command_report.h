// What a Backup or Restore command came to, for front ends that need more than the message boxes
// (the command-line tool turns it into an exit code), and the commands' settings.
//
// Contract: a command returns its report to the front end that ran it, on that front end's
// thread; nothing of it is kept after the command. CommandSettings is set by the front end before
// a command runs and read by the command on the same thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "spine/failure_cause.h"

enum class CommandResult {
    Completed,          // the file was stored (backup) or served and the device rebooted (restore)
    Declined,           // a field was missing or no file was chosen
    PortUnavailable,    // the TFTP port could not be opened
    NotTavio,           // the host did not answer as a Tavio
    Unsupported,        // the host is one of the maker's other products
    DeviceCommandFailed,// a device command failed; the cause went through ReportError
    TransferFailed,     // the device never sent or fetched the file, or the transfer failed
    TransferUnconfirmed,// every block was served but the last acknowledgement never came
    FileUnusable,       // the restore file could not be read or is no configuration text, or
                        // the backup file not written
};

struct CommandReport {
    CommandResult Result = CommandResult::Declined;
    std::uint64_t Bytes = 0;  // bytes stored or served
    // A restore: one line on why the file was refused or the restore is not confirmed, for a
    // front end that has no boxes to show; empty when the boxes say it all.
    std::string Reason{};
    // A failure's cause where it is known (what failed, where, the system's words), for a front
    // end that reports in one line; the boxes and panel texts say it the dialog's way.
    FailureCause Cause{};
    // A restore that read the device's configuration back (asked for, or after a lost last
    // acknowledgement): whether it did, and the file's lines the device lacked and the count of
    // lines it has beyond the file (information only).
    bool ReadBack = false;
    std::vector<std::string> MissingLines{};
    std::size_t ExtraLines = 0;
};

struct CommandSettingsRecord {
    // After the device closed the command connection: how long a transfer it should have made
    // may take to show up at the TFTP server before the command counts it as never made.
    int TransferGraceMs = 2000;
    // When set, the Backup command keeps the device's text in this string (line ends converted
    // as for a file) instead of writing TargetPath; the front end owns the string.
    std::string* BackupText = nullptr;
    // Restore: the front end has loaded the file into FileImage and checked it itself (before a
    // safety backup); the command neither opens nor checks it again.
    bool RestoreImageLoaded = false;
    // Restore: after the transfer, read the device's configuration back and reboot only when it
    // holds every line of the file. The outcome is in the report, not in a box.
    bool VerifyRestore = false;
};

extern CommandSettingsRecord CommandSettings;
