// The pieces of a failed device call's cause (spine/failure_cause.h) that the command channel
// composes itself: where the device's web server is, and the words for a reply that never came.
//
// Contract: pure; any thread.
#pragma once

#include <cstdint>
#include <string>

#include "spine/failure_cause.h"

// "HOST:PORT", the host as the command was given it; port 0 is DeviceSettings.Port.
std::string DeviceWhere(const char* host, std::uint16_t port);
// "no reply within 10 s" ("within 500 ms" for a bound of no whole seconds).
std::string NoReplyWithin(int ms);
// The cause of a failed socket call on the device's connection: `what` with the system's words
// for this thread's last socket error.
FailureCause DeviceSocketCause(const char* host, std::uint16_t port, const char* what);
