#include "spine/transfer_hooks.h"

#include "spine/failure_cause.h"

TransferHooksTable TransferHooks{};

void RegisterTransferHooks(CheckFilenameHook checkFilename, DownloadConfigHook downloadConfig,
                           UploadConfigHook uploadConfig, ReportErrorHook reportError,
                           ReportStatusHook reportStatus) {
    TransferHooks = TransferHooksTable{checkFilename, downloadConfig, uploadConfig, reportError,
                                       reportStatus};
}

namespace {

thread_local const TransferHooksTable* boundHooks = nullptr;
thread_local void* boundRecord = nullptr;

}  // namespace

const TransferHooksTable& ActiveTransferHooks() {
    return boundHooks != nullptr ? *boundHooks : TransferHooks;
}

void* ActiveTransferRecord() { return boundRecord; }

ScopedTransferHooks::ScopedTransferHooks(const TransferHooksTable* hooks, void* record)
    : previousHooks_(boundHooks), previousRecord_(boundRecord) {
    boundHooks = hooks;
    boundRecord = record;
}

ScopedTransferHooks::~ScopedTransferHooks() {
    boundHooks = previousHooks_;
    boundRecord = previousRecord_;
}

bool RaiseError(int code) {
    ForgetUnboundFailure();  // the latest failure is this one, which has no cause of its own
    return ActiveTransferHooks().ReportError(code, nullptr);
}

bool RaiseStatus(int code, const void* detail) {
    const TransferHooksTable& hooks = ActiveTransferHooks();
    return hooks.ReportStatus ? hooks.ReportStatus(code, detail) : true;
}
