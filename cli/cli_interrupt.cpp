#include "cli/cli_interrupt.h"

#include <mutex>
#include <string>

#include "app/temporary_files.h"
#include "platform/interrupts.h"

namespace {

// Held by a running action to the end of the process, and by CloseCliInterrupts likewise; never
// destroyed.
std::mutex& ActionLock() {
    static auto* lock = new std::mutex;
    return *lock;
}

const CliIo* interruptIo = nullptr;
CliInterruptAction currentAction = nullptr;  // guarded by ActionLock
void* currentContext = nullptr;

void RemoveAndEnd(int signal, void*) {
    RemoveTemporaryFilesForGood();
    EndInterrupted(signal);
}

void OnInterrupt(int signal) {
    ActionLock().lock();
    (currentAction != nullptr ? currentAction : RemoveAndEnd)(signal, currentContext);
}

}  // namespace

bool WatchCliInterrupts(const CliIo& io) {
    interruptIo = &io;
    return plat::WatchInterrupts(OnInterrupt);
}

void CloseCliInterrupts() { ActionLock().lock(); }

void SetCliInterruptAction(CliInterruptAction action, void* context) {
    std::lock_guard guard(ActionLock());
    currentAction = action;
    currentContext = context;
}

void EndInterrupted(int signal) {
    if (interruptIo != nullptr) {
        const char* name = signal == plat::kInterruptSignal ? "SIGINT" : "SIGTERM";
        interruptIo->writeErr(std::string(interruptIo->errIsTerminal ? "\n" : "") +
                              "morvane-cli: interrupted (" + name + ")\n");
    }
    plat::EndProcessNow(InterruptedExitCode(signal));
}
