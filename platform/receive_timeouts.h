// The receive time-out (SO_RCVTIMEO) each socket has in force, so that a bounded datagram receive
// can block in the receive itself and set the socket's time-out again only when the wanted wait
// changes, instead of waiting for readiness first and receiving after.
//
// Contract: for the platform's socket code only (posix/net.cpp, win32/net.cpp); callable from
// any thread. One process-wide table under a lock, keyed by handle. Receives on one socket follow
// one another (their callers see to that), so an entry only has to be right between them. A
// socket without an entry has no time-out, as a fresh socket has: the socket code drops a
// handle's entry when it opens and when it closes that socket. Times are in microseconds; 0 is
// no time-out.
#pragma once

#include <cstdint>

#include "platform/net.h"

namespace plat {

// A time-out the table does not know (a setting that failed): the next wanted wait sets it.
inline constexpr std::int64_t kUnknownRecvTimeout = -1;

// What a socket has: the time-out its owner gave it (SocketSetRecvTimeout), which a receive
// without a bound of its own keeps to, and the one set on it now.
struct RecvTimeouts {
    std::int64_t ownUs = 0;
    std::int64_t inForceUs = 0;
};

RecvTimeouts RecvTimeoutsOf(SocketHandle s);
// After the socket's time-out was set to inForceUs (kUnknownRecvTimeout: a setting failed).
void NoteRecvTimeoutInForce(SocketHandle s, std::int64_t inForceUs);
// After SocketSetRecvTimeout set the owner's time-out.
void NoteOwnRecvTimeout(SocketHandle s, std::int64_t ownUs);
// The socket is opened or closed: its handle starts afresh.
void ForgetRecvTimeouts(SocketHandle s);
// A connection accepted on listener starts with the listener's time-outs, as the system gives it.
void InheritRecvTimeouts(SocketHandle listener, SocketHandle accepted);

}  // namespace plat
