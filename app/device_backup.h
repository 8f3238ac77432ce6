// One device's backup with no dialog: the building block of backups that run side by side.
//
// Contract: BackUpDevice runs on any thread, many at once, each bound to its own device. It
// reads only DeviceSettings, TftpSettings and CommandSettings (set before the first call) and
// touches none of the single-device records (ConnectionSettings, TargetPath, DeviceAddress).
// Its events go to its own capture, not to the registered hooks; its transfer is accepted only
// from the address its own connection to the device reached, or from the job's
// deviceTftpAddress.
#pragma once

#include <cstdint>
#include <string>

#include "app/command_report.h"

struct DeviceBackupJob {
    std::string host, userName, password, targetPath;
    // When set, the device's text goes into this string and targetPath is not used; the caller
    // owns it.
    std::string* text = nullptr;
    // This device's TFTP addresses (host byte order; 0: as DeviceCommandTarget says): ours as
    // the device is told it, and the one its transfer is accepted from.
    std::uint32_t tftpAddress = 0;
    std::uint32_t deviceTftpAddress = 0;
    std::uint16_t httpPort = 0;  // this device's web port; 0: DeviceSettings.Port
    // The file as the operator knows it, for the texts of a failure, when targetPath is a
    // scratch file of the caller's; empty: targetPath.
    std::string shownPath{};
};

struct DeviceBackupResult {
    CommandResult result;  // app/command_report.h
    int lastError;         // the last ErrorEvent reported for this device, 0 when none
    std::uint64_t bytes;   // bytes stored
    std::string panel;     // the operator-facing text of the failure, empty on success
    // The system's error code (plat::LastSocketError) when lastError is a socket set-up failure
    // (ERR_SOCKETS_SETUP, ERR_TFTP_SOCKET, ERR_BIND), taken on the thread that failed; else 0.
    int systemError = 0;
    // What failed, where and the system's words (spine/failure_cause.h); empty on success and
    // for a failure that has no cause of its own (refused credentials, a host that is no Tavio).
    // A file is named by the job's shownPath.
    FailureCause cause{};
};

// Backs one device up into job.targetPath (temporary file + atomic replace, as the backup
// command does): the probe, the booking of the device's transfer, LIST CHANGES, the transfer.
// A failure never touches the previous file at job.targetPath.
DeviceBackupResult BackUpDevice(const DeviceBackupJob& job);
