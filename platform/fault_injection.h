// Test hooks: a test makes chosen platform operations fail, so every failure path of the program
// can be driven without a broken machine, and checks that every path releases its sockets and
// socket-library start-ups.
//
// Contract: for test executables only. These functions exist in the platform build that test
// executables link (see the top CMakeLists.txt); the programs link a platform without them.
// Process-wide, thread-safe. An armed operation lets `skip` calls through, then fails `count`
// calls (kAlways: every later call).
#pragma once

namespace plat {

enum class Op {
    NetStartup,
    SocketOpen,
    Bind,
    Connect,
    SetTimeout,
    Send,
    Recv,
    SendTo,
    RecvFrom,
    Pending,
    LocalAddress,
    PeerAddress,
    Resolve,
    Accept,
    FileOpenRead,
    FileSize,
    FileRead,
    FileCreate,
    FileWrite,
    FileFlush,
    FileReplace,
    ThreadStart,
    Alloc,
    MakeDirectory,
    RunProgram,
    Count_
};

inline constexpr int kAlways = -1;

void InjectFailure(Op op, int skip = 0, int count = 1);
// As InjectFailure, and each failing call first waits delayMs: a failure that comes late.
void InjectLateFailure(Op op, int delayMs, int skip = 0, int count = 1);
// Disarms every operation and zeroes the call counts (not the two counts of things open).
void ClearInjectedFailures();
// How many calls of op were made since the last ClearInjectedFailures.
int CallCount(Op op);

// Start-ups not yet released, and sockets open now.
int NetStartupCount();
int OpenSocketCount();

}  // namespace plat
