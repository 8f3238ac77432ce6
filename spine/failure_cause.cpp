#include "spine/failure_cause.h"

#include <mutex>

#include "spine/transfer_hooks.h"

namespace {

std::mutex slotLock;
FailureCause unboundSlot;

}  // namespace

std::string CauseLine(const FailureCause& cause) {
    if (cause.Empty()) return {};
    return cause.where + ": " + cause.what + ": " + cause.text;
}

void NoteFailureCause(const FailureCause& cause) {
    if (ActiveTransferRecord() != nullptr) return;
    std::lock_guard lock(slotLock);
    unboundSlot = cause;
}

bool RaiseFailure(int code, const FailureCause& cause) {
    NoteFailureCause(cause);
    return ActiveTransferHooks().ReportError(code, &cause);
}

void ForgetUnboundFailure() { NoteFailureCause(FailureCause{}); }

FailureCause LatestUnboundFailure() {
    std::lock_guard lock(slotLock);
    return unboundSlot;
}
