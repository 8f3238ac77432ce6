// platform/interrupts.h for Windows: the console's control events, which the system delivers on
// a thread it starts for each.
#include "platform/interrupts.h"

#include <windows.h>

#include <atomic>

namespace plat {
namespace {

void (*interruptHandler)(int) = nullptr;
std::atomic<bool> handling{false};

BOOL WINAPI OnConsoleEvent(DWORD event) {
    if (!handling.exchange(true))
        interruptHandler(event == CTRL_C_EVENT ? kInterruptSignal : kTerminateSignal);
    // A later event waits here for the first one's handler to end the process.
    for (;;) ::Sleep(1000);
}

}  // namespace

bool WatchInterrupts(void (*handler)(int signal)) {
    interruptHandler = handler;
    return ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE) != 0;
}

void EndProcessNow(int code) {
    ::TerminateProcess(::GetCurrentProcess(), static_cast<UINT>(code));
    for (;;) ::Sleep(1000);
}

}  // namespace plat
