// POSIX threads and clocks behind platform/threads.h.
#include "platform/threads.h"

#include <pthread.h>
#include <time.h>

#include "platform/test_hooks.h"

namespace plat {
namespace {

struct Start {
    void (*entry)(void*);
    void* argument;
};

void* Trampoline(void* p) {
    const Start start = *static_cast<Start*>(p);
    delete static_cast<Start*>(p);
    start.entry(start.argument);
    return nullptr;
}

}  // namespace

ThreadHandle ThreadStartJoinable(void (*entry)(void*), void* argument) {
    if (ShouldFail(Op::ThreadStart)) return kNoThread;
    auto* start = new Start{entry, argument};
    auto* thread = new pthread_t;
    if (::pthread_create(thread, nullptr, Trampoline, start) != 0) {
        delete start;
        delete thread;
        return kNoThread;
    }
    return reinterpret_cast<ThreadHandle>(thread);
}

bool ThreadStart(void (*entry)(void*), void* argument) {
    const ThreadHandle thread = ThreadStartJoinable(entry, argument);
    if (thread == kNoThread) return false;
    auto* handle = reinterpret_cast<pthread_t*>(thread);
    ::pthread_detach(*handle);  // detached: nobody waits on it
    delete handle;
    return true;
}

void ThreadJoin(ThreadHandle thread) {
    if (thread == kNoThread) return;
    auto* handle = reinterpret_cast<pthread_t*>(thread);
    ::pthread_join(*handle, nullptr);
    delete handle;
}

void SleepMs(int milliseconds) {
    timespec ts{milliseconds / 1000, static_cast<long>(milliseconds % 1000) * 1000000L};
    while (::nanosleep(&ts, &ts) != 0) {
    }
}

std::uint64_t MonotonicMs() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::uint64_t>(ts.tv_sec) * 1000u +
           static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
}

std::int64_t WallClockSeconds() {
    timespec ts{};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<std::int64_t>(ts.tv_sec);
}

}  // namespace plat
