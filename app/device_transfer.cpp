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

namespace {

struct TransferFailureRow {
    TftpRunResult result;
    const char* text;
};

constexpr TransferFailureRow kTransferFailures[] = {
    {TftpRunResult::NoRequest, "the device made no request"},
    {TftpRunResult::Failed, "the transfer broke off"},
    {TftpRunResult::Refused, "the device's request was refused"},
    {TftpRunResult::LastAckMissing, "the device never acknowledged the last block"},
    {TftpRunResult::StoreFailed, "the text could not be stored"},
};

}  // namespace

FailureCause TransferFailureCause(const TftpRunOutcome& transfer, const std::string& host) {
    // A refusal noted while no request came is the whole story; a transfer that broke off says
    // how after the words for its end.
    if (transfer.Result == TftpRunResult::NoRequest && !transfer.Note.empty())
        return FailureCause{host, "tftp", transfer.Note};
    std::string text = "the transfer failed";
    for (const TransferFailureRow& row : kTransferFailures)
        if (row.result == transfer.Result) text = row.text;
    if (transfer.Result == TftpRunResult::Failed && !transfer.Note.empty())
        text += ": " + transfer.Note;
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
