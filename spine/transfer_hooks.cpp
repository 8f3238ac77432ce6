#include "spine/transfer_hooks.h"

TransferHooksTable TransferHooks{};

void RegisterTransferHooks(CheckFilenameHook checkFilename, DownloadConfigHook downloadConfig,
                           UploadConfigHook uploadConfig, ReportErrorHook reportError,
                           ReportStatusHook reportStatus) {
    TransferHooks = TransferHooksTable{checkFilename, downloadConfig, uploadConfig, reportError,
                                       reportStatus};
}

bool RaiseError(int code) { return TransferHooks.ReportError(code, nullptr); }

bool RaiseStatus(int code, const void* detail) {
    return TransferHooks.ReportStatus ? TransferHooks.ReportStatus(code, detail) : true;
}
