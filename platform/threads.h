// Threads and time, as the portable core sees them.
#pragma once

#include <cstdint>

namespace plat {

// Starts a detached thread running entry(argument). False when no thread could be created.
bool ThreadStart(void (*entry)(void*), void* argument);

// A thread somebody joins. kNoThread when no thread could be created.
using ThreadHandle = std::uintptr_t;
inline constexpr ThreadHandle kNoThread = 0;
ThreadHandle ThreadStartJoinable(void (*entry)(void*), void* argument);
// Waits until the thread has returned and frees its handle. Never called by the thread itself.
void ThreadJoin(ThreadHandle thread);
void SleepMs(int milliseconds);
// A clock that only moves forward, in milliseconds.
std::uint64_t MonotonicMs();
// The calendar clock: whole seconds since 1970-01-01 00:00 UTC. It may jump (the system's time
// set by hand or by a time service); for records of when something happened, never for waits.
std::int64_t WallClockSeconds();

}  // namespace plat
