// Kernel threads and clocks behind platform/threads.h.
#include "platform/threads.h"

#include <windows.h>

#include "platform/test_hooks.h"

namespace plat {
namespace {

struct Start {
    void (*entry)(void*);
    void* argument;
};

DWORD WINAPI Trampoline(LPVOID p) {
    const Start start = *static_cast<Start*>(p);
    delete static_cast<Start*>(p);
    start.entry(start.argument);
    return 0;
}

}  // namespace

ThreadHandle ThreadStartJoinable(void (*entry)(void*), void* argument) {
    if (ShouldFail(Op::ThreadStart)) return kNoThread;
    auto* start = new Start{entry, argument};
    const HANDLE thread = ::CreateThread(nullptr, 0, Trampoline, start, 0, nullptr);
    if (thread == nullptr) {
        delete start;
        return kNoThread;
    }
    return reinterpret_cast<ThreadHandle>(thread);
}

bool ThreadStart(void (*entry)(void*), void* argument) {
    const ThreadHandle thread = ThreadStartJoinable(entry, argument);
    if (thread == kNoThread) return false;
    ::CloseHandle(reinterpret_cast<HANDLE>(thread));  // detached: nobody waits on it
    return true;
}

void ThreadJoin(ThreadHandle thread) {
    if (thread == kNoThread) return;
    const HANDLE handle = reinterpret_cast<HANDLE>(thread);
    ::WaitForSingleObject(handle, INFINITE);
    ::CloseHandle(handle);
}

void SleepMs(int milliseconds) {
    ::Sleep(milliseconds < 0 ? 0 : static_cast<DWORD>(milliseconds));
}

std::uint64_t MonotonicMs() {
    return ::GetTickCount64();
}

std::int64_t WallClockSeconds() {
    // FILETIME counts 100 ns intervals since 1601-01-01 UTC.
    constexpr std::int64_t kSecondsFrom1601To1970 = 11644473600LL;
    FILETIME now{};
    ::GetSystemTimeAsFileTime(&now);
    const std::uint64_t ticks =
        (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    return static_cast<std::int64_t>(ticks / 10000000u) - kSecondsFrom1601To1970;
}

}  // namespace plat
