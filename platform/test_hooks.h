// The platform implementations' side of the test hooks: where an operation asks whether it must
// fail, and where sockets and socket-library start-ups are counted.
//
// Contract: included only by platform/ sources. The platform library is built twice (see the top
// CMakeLists.txt): the build that test executables link defines MORVANE_TEST_HOOKS and gets the
// real hooks (fault_injection.cpp); the build every program ships with gets the forms below,
// which are evaluated while compiling and leave no code and no symbol behind.
#pragma once

#include "platform/fault_injection.h"

namespace plat {

// The error code a failed injected call leaves behind (LastSocketError).
inline constexpr int kInjectedError = 10000;

#if defined(MORVANE_TEST_HOOKS)
// Counts the call of op; true when a test armed op to fail now. Any thread.
bool ShouldFail(Op op);
// +1 when a socket is opened or a start-up taken, -1 when it is closed or released.
void CountOpenSockets(int change);
void CountNetStartups(int change);
#else
consteval bool ShouldFail(Op) {
    return false;
}
consteval void CountOpenSockets(int) {}
consteval void CountNetStartups(int) {}
#endif

}  // namespace plat
