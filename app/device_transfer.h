// The step that moves a configuration, the same below the dialog, the command line and the
// fleet: the device's transfer booked on the TFTP server, the device command that makes the
// device talk TFTP, and the transfer collected. What the operator is shown of it is each
// command's own presentation (the dialog's boxes, a job's result).
//
// Contract: the command's thread (a job's thread for a fleet device), many at once. Returns once
// the transfer is over, or at the command's deadline (the transfer is then abandoned and counts
// as failed); a booking that led to nothing is withdrawn before it returns. Logs the readiness
// failure, the deadline, and a request refused while the command waited (reported too as
// ERR_FOREIGN_TFTP_REQUEST through the thread's hooks).
#pragma once

#include <memory>

#include "app/command_report.h"
#include "devicecmd/cli_commands.h"
#include "spine/transfer_hooks.h"
#include "tftp/tftp_booking.h"

// Whose transfer it is. A default one is the single-device command's: DeviceAddress, the hooks
// of the calling thread, ConnectionSettings' host and credentials; the run that served it has
// ended when the step returns, so the next command starts a fresh server.
struct TransferOwner {
    TftpDeviceAddress device;
    TransferHooksTable hooks{};
    std::shared_ptr<void> record;
    const DeviceCommandTarget* target = nullptr;
};

struct DeviceTransfer {
    enum class Stage {
        NotReady,       // the server could not be made ready: nothing was sent (readiness says why)
        CommandFailed,  // the device command failed (its cause went through ReportError)
        Collected,      // the device command ended; transfer says what came of it
    } stage = Stage::NotReady;
    TftpReadiness readiness = TftpReadiness::NotReady;
    CommandEnd end;
    TftpRunOutcome transfer;
};

// commandKind: CMD_LIST_CHANGES (a backup) or CMD_EXECUTE (a restore).
DeviceTransfer TransferThroughDevice(const TransferOwner& owner, int commandKind);

// The cause of a transfer that did not happen or failed (the device named by `host`); a
// backup's text that could not be stored is the file's cause, not this.
FailureCause TransferFailureCause(const TftpRunOutcome& transfer, const std::string& host);

// What a backup's collected transfer means for its command.
CommandResult BackupTransferResult(const TftpRunOutcome& transfer);
