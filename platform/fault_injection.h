// Failure injection: a test makes chosen platform operations fail, so every failure path of the
// program can be driven without a broken machine.
//
// Contract: process-wide, thread-safe. An armed operation lets `skip` calls through, then fails
// `count` calls (kAlways: every later call). Platform implementations ask ShouldFail() first.
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
    Count_
};

inline constexpr int kAlways = -1;

void InjectFailure(Op op, int skip = 0, int count = 1);
void ClearInjectedFailures();
// Asked by the implementations (and by core code for allocations); counts the call.
bool ShouldFail(Op op);
// How many calls of op were made since the last ClearInjectedFailures.
int CallCount(Op op);

// The error code a failed injected call leaves behind (LastSocketError) .
inline constexpr int kInjectedError = 10000;

}  // namespace plat
