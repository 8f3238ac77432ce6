// Threads and time, as the portable core sees them.
#pragma once

#include <cstdint>

namespace plat {

// Starts a detached thread running entry(argument). False when no thread could be created.
bool ThreadStart(void (*entry)(void*), void* argument);
void SleepMs(int milliseconds);
// A clock that only moves forward, in milliseconds.
std::uint64_t MonotonicMs();

}  // namespace plat
