// Why the TFTP server could not be made ready for a command, in one line: the step that failed
// on the port with the system's words for it, or the bound that ran out while the server was not
// ready.
//
// Contract: DescribeSocketSetupFailure runs on the thread whose socket call failed, right after
// the failure is reported (the system's error code is that thread's); the rest on any thread.
#pragma once

#include <string>

#include "platform/net.h"

struct SocketSetupFailure {
    int event = 0;  // ERR_SOCKETS_SETUP, ERR_TFTP_SOCKET or ERR_BIND; 0: no socket step failed
    plat::SocketErrorKind kind = plat::SocketErrorKind::Other;
    std::string systemText;
};

bool IsSocketSetupEvent(int event);
// The failure of `event` with the system's error code `systemError`; event 0 for any other event.
SocketSetupFailure DescribeSocketSetupFailure(int event, int systemError);

// "UDP port 69: bind: Address already in use (another program holds it)", or, without a failed
// step, "the TFTP server was not ready within 3000 ms".
std::string TftpPortFailureText(const SocketSetupFailure& failure, int port, int readyTimeoutMs);
