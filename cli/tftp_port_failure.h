// Why the TFTP server could not be made ready for a command, in one line: the step that failed
// on the port with the system's words for it, or the bound that ran out while the server was not
// ready.
//
// Contract: DescribeSocketSetupFailure runs on the thread whose socket call failed, right after
// the failure is reported (the system's error code is that thread's); the rest on any thread.
#pragma once

#include <string>

#include "platform/net.h"
#include "spine/failure_cause.h"

struct SocketSetupFailure {
    int event = 0;  // ERR_SOCKETS_SETUP, ERR_TFTP_SOCKET or ERR_BIND; 0: no socket step failed
    plat::SocketErrorKind kind = plat::SocketErrorKind::Other;
    std::string systemText;
    FailureCause cause{};  // as the failed step raised it; empty when it gave none
};

bool IsSocketSetupEvent(int event);
// The failure of `event` with the system's error code `systemError` and the cause the step raised
// (null: none); event 0 for any other event.
SocketSetupFailure DescribeSocketSetupFailure(int event, int systemError,
                                              const FailureCause* cause = nullptr);

// "port 69: bind: Address already in use (another program holds it)": the cause's line with a
// hint where the system's words have one; or, without a failed step, "the TFTP server was not
// ready within 3000 ms".
std::string TftpPortFailureText(const SocketSetupFailure& failure, int port, int readyTimeoutMs);
