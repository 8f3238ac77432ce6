// BackUpDevice: the backup command's steps, with the job's own settings, file and error capture.
#include "app/device_backup.h"

#include <atomic>
#include <cstdio>
#include <memory>
#include <mutex>
#include <vector>

#include "app/command_texts.h"
#include "app/config_file_hooks.h"
#include "app/device_transfer.h"
#include "app/panel_texts.h"
#include "devicecmd/cli_commands.h"
#include "devicecmd/server_probe.h"
#include "platform/log.h"
#include "platform/net.h"
#include "spine/events.h"
#include "spine/transfer_hooks.h"

namespace {

// What the job's hooks work on: bound to the job's thread and to its transfer's thread, and
// shared with the booking, so a transfer that outlives the job still writes into a live record.
struct JobRecord {
    std::string targetPath;
    std::atomic<int> lastError{0};
    std::atomic<int> systemError{0};
    std::mutex causeLock;  // guards cause: the job's thread and its transfer's thread raise
    FailureCause cause;    // the latest event's cause; empty when it came without one
    plat::FileHandle file = plat::kNoFile;
    BackupFileWriter writer{file, {}, {}};
};

JobRecord& BoundJob() {
    return *static_cast<JobRecord*>(ActiveTransferRecord());
}

bool CaptureError(int code, const void* detail) {
    JobRecord& job = BoundJob();
    {
        const auto* cause = code != ERR_FOREIGN_TFTP_REQUEST
                                ? static_cast<const FailureCause*>(detail)
                                : nullptr;
        std::lock_guard lock(job.causeLock);
        job.cause = cause != nullptr ? *cause : FailureCause{};
    }
    // The system's error code of a socket set-up failure is the reporting thread's, and only now.
    const bool socketSetup =
        code == ERR_SOCKETS_SETUP || code == ERR_TFTP_SOCKET || code == ERR_BIND;
    job.systemError.store(socketSetup ? plat::LastSocketError() : 0);
    job.lastError.store(code);
    return true;
}

bool IgnoreStatus(int, const void*) {
    return true;
}

int StoreJobBlock(const std::uint8_t* bytes, int count, std::uint32_t* written, int packetLength,
                  int blockNumber) {
    JobRecord& job = BoundJob();
    return StoreBackupBlock(job.writer, job.targetPath, bytes, count, written, packetLength,
                            blockNumber);
}

constexpr TransferHooksTable kJobHooks{CheckFilename, nullptr, StoreJobBlock, CaptureError,
                                       IgnoreStatus};

// The text of the box the backup command shows for this failure, when no event says more.
std::string BoxText(const MessageBoxText& box, const std::string& fill) {
    const int needed = std::snprintf(nullptr, 0, box.text, fill.c_str());
    std::vector<char> text(static_cast<std::size_t>(needed) + 1);
    std::snprintf(text.data(), text.size(), box.text, fill.c_str());
    return std::string(text.data(), static_cast<std::size_t>(needed));
}

// The file as the operator knows it.
const std::string& ShownPath(const DeviceBackupJob& job) {
    return job.shownPath.empty() ? job.targetPath : job.shownPath;
}

// `cause`: the failure's own, when the step knows it; else the latest event's.
DeviceBackupResult Finish(const DeviceBackupJob& job, JobRecord& record, CommandResult result,
                          std::uint64_t bytes, const MessageBoxText* box, const std::string& fill,
                          FailureCause cause = {}) {
    const int lastError = record.lastError.load();
    std::string panel;
    if (result != CommandResult::Completed) {
        panel = ComposePanelText(lastError, job.host.c_str(), job.userName.c_str());
        if (panel.empty() && box != nullptr) panel = BoxText(*box, fill);
        if (cause.Empty()) {
            std::lock_guard lock(record.causeLock);
            cause = record.cause;
        }
    } else {
        cause = {};
    }
    return DeviceBackupResult{result, lastError, bytes, std::move(panel),
                              record.systemError.load(), std::move(cause)};
}

}  // namespace

DeviceBackupResult BackUpDevice(const DeviceBackupJob& job) {
    const auto shared = std::make_shared<JobRecord>();
    JobRecord& record = *shared;
    record.targetPath = job.targetPath;
    // Written only while the transfer runs, and every way out below waits for its end.
    record.writer.memory = job.text;
    const ScopedTransferHooks bound(&kJobHooks, &record);
    if (job.host.empty()) return Finish(job, record, CommandResult::Declined, 0, nullptr, {});
    if (job.userName.empty()) return Finish(job, record, CommandResult::Declined, 0, nullptr, {});
    plat::Log("%s:%s:%s\n", job.host.c_str(), job.userName.c_str(), "********");

    const auto reached = std::make_shared<std::atomic<std::uint32_t>>(0);
    switch (ProbeServerType(job.host.c_str(), reached.get(), job.httpPort)) {
        case SERVER_UNRECOGNISED:
            return Finish(job, record, CommandResult::NotTavio, 0, &command_text::kNotTavio,
                          job.host);
        case SERVER_UNSUPPORTED:
            return Finish(job, record, CommandResult::Unsupported, 0,
                          &command_text::kUnsupportedBackup, job.host);
        default:
            break;
    }

    // A device whose TFTP client sends from another of its addresses is booked under that one.
    if (job.deviceTftpAddress != 0) reached->store(job.deviceTftpAddress);
    const DeviceCommandTarget target{job.host.c_str(), job.userName.c_str(), job.password.c_str(),
                                     reached.get(), job.tftpAddress, job.deviceTftpAddress,
                                     job.httpPort};
    const DeviceTransfer step =
        TransferThroughDevice(TransferOwner{reached, kJobHooks, shared, &target}, CMD_LIST_CHANGES);
    if (step.stage == DeviceTransfer::Stage::NotReady)
        return Finish(job, record, CommandResult::PortUnavailable, 0, &command_text::kPortWarning,
                      {});
    if (step.stage == DeviceTransfer::Stage::CommandFailed)
        return Finish(job, record, CommandResult::DeviceCommandFailed, 0, nullptr, {});
    const TftpRunOutcome& transfer = step.transfer;
    const CommandResult result = BackupTransferResult(transfer);
    if (result == CommandResult::Completed)
        return Finish(job, record, result, transfer.Bytes, nullptr, {});
    // The text that could not be stored is the file's failure; any other is the transfer's.
    FailureCause cause = record.writer.failure;
    if (result == CommandResult::FileUnusable && !cause.Empty())
        cause.where = ShownPath(job);
    else
        cause = TransferFailureCause(transfer, job.host);
    DeviceBackupResult failed = Finish(job, record, result, 0, &command_text::kBackupFailed,
                                       ShownPath(job), std::move(cause));
    // A refused request is the likeliest cause, and says more than any box.
    if (transfer.Result == TftpRunResult::NoRequest && !transfer.Note.empty())
        failed.panel = transfer.Note;
    return failed;
}
