#include "app/device_transfer.h"

#include "platform/log.h"
#include "platform/threads.h"
#include "spine/events.h"
#include "tftp/tftp_settings.h"

namespace {

// A run with nothing left closes at once; this only bounds the wait for it.
constexpr int kRunSettlesMs = 2000;

int SendCommand(const TransferOwner& owner, int kind, CommandEnd* end) {
    if (owner.target != nullptr) return SendDeviceCommand(*owner.target, kind, end);
    return kind == CMD_EXECUTE ? SendExecuteCommand(end) : SendListChangesCommand(end);
}

}  // namespace

DeviceTransfer TransferThroughDevice(const TransferOwner& owner, int commandKind) {
    DeviceTransfer step;
    TftpBooking booking;
    const bool single = owner.device == nullptr;
    step.readiness = single ? BookSingleDeviceTransfer(TftpSettings.ReadyTimeoutMs, &booking)
                            : BookTftpTransfer(owner.device, owner.hooks, owner.record,
                                               TftpSettings.ReadyTimeoutMs, &booking);
    if (step.readiness != TftpReadiness::Ready) {
        if (step.readiness == TftpReadiness::NotOpened)
            plat::Log("Error, could not open the TFTP port.\n");
        else
            plat::Log("The TFTP server was not ready within %d ms.\n", TftpSettings.ReadyTimeoutMs);
        return step;
    }
    if (SendCommand(owner, commandKind, &step.end) == 0) {
        WithdrawTftpBooking(booking);
        if (single) AwaitTftpRunSettled(kRunSettlesMs);
        step.stage = DeviceTransfer::Stage::CommandFailed;
        return step;
    }
    step.stage = DeviceTransfer::Stage::Collected;
    step.transfer =
        AwaitTftpBookingUntil(booking, CommandSettings.TransferGraceMs, step.end.deadlineAtMs);
    if (single) AwaitTftpRunSettled(kRunSettlesMs);
    if (step.end.deadlineAtMs != 0 && step.transfer.Result == TftpRunResult::Failed &&
        plat::MonotonicMs() >= step.end.deadlineAtMs)
        plat::Log("The command's time-out ended the wait for its transfer.\n");
    if (step.transfer.Result == TftpRunResult::NoRequest && !step.transfer.Note.empty()) {
        plat::Log("%s\n", step.transfer.Note.c_str());
        ActiveTransferHooks().ReportError(ERR_FOREIGN_TFTP_REQUEST, step.transfer.Note.c_str());
    }
    return step;
}

FailureCause TransferFailureCause(const TftpRunOutcome& transfer, const std::string& host) {
    const char* text = "the transfer failed";
    switch (transfer.Result) {
        case TftpRunResult::NoRequest:
            if (!transfer.Note.empty()) return FailureCause{host, "tftp", transfer.Note};
            text = "the device made no request";
            break;
        case TftpRunResult::Failed:
            if (!transfer.Note.empty())
                return FailureCause{host, "tftp", "the transfer broke off: " + transfer.Note};
            text = "the transfer broke off";
            break;
        case TftpRunResult::Refused:
            text = "the device's request was refused";
            break;
        case TftpRunResult::LastAckMissing:
            text = "the device never acknowledged the last block";
            break;
        case TftpRunResult::StoreFailed:
            text = "the text could not be stored";
            break;
        case TftpRunResult::FileServed:
        case TftpRunResult::FileStored:
            break;
    }
    return FailureCause{host, "tftp", text};
}

CommandResult BackupTransferResult(const TftpRunOutcome& transfer) {
    switch (transfer.Result) {
        case TftpRunResult::FileStored:
            return CommandResult::Completed;
        case TftpRunResult::StoreFailed:
            return CommandResult::FileUnusable;
        default:
            return CommandResult::TransferFailed;
    }
}
