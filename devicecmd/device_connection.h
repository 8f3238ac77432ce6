// One TCP connection to the device's web port.
//
// Contract: dialog's thread only. On success the caller owns the socket and one socket-library
// start-up, and must SocketClose then NetCleanup, once each, on every path. On failure the cause
// has been reported through ReportError and printed, and nothing stays open.
#pragma once

#include "platform/net.h"

plat::SocketHandle ConnectToDevice(const char* host, int withTimeouts);
