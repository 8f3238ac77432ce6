// Where a datagram received on the shared port goes: the routing rules of the port's reader, as
// a pure decision over the owner's slots and bookings (read under the owner's lock).
//
// The rules, in order:
// 1. From the owner's own wake-up socket: nothing but a reason to look again.
// 2. From the peer (address and port) of a transfer on the port, running or dallying: that
//    transfer's (the reader's own, or mail for it).
// 3. From the device of a waiting booking (the newest, when several name it, among those that
//    want the request's direction, a read or a write): a valid request
//    starts its transfer; a request the booking cannot take (wrong name, mode or direction,
//    malformed) is answered with its ERROR and the booking goes on waiting; anything else
//    (empty, short, oversized, not a request) is dropped with a log line.
// 4. From anybody else: a request, or anything while a booking waits, is refused (ERROR 2, but
//    never an answer to an ERROR); otherwise ERROR 5 while transfers run, and silence when only
//    dallies are left.
#pragma once

#include <cstdint>
#include <span>

#include "tftp/tftp_port_owner.h"

enum class TftpRoute {
    Wake,           // rule 1
    Mine,           // rule 2, the reader's own
    Mail,           // rule 2, another transfer's: slot `index`
    StartBooked,    // rule 3: booking `index` takes the request
    RefuseRequest,  // rule 3: ERROR `errorCode`, with `logLine`; the booking waits on
    NotARequest,    // rule 3: dropped, logged
    Foreign,        // rule 4: ERROR 2 unless the datagram is an ERROR; logged
    UnknownPeer,    // rule 4: ERROR 5; logged
    Drop,           // rule 4: silence
};

struct TftpRouting {
    TftpRoute route = TftpRoute::Drop;
    std::size_t index = 0;
    int errorCode = 0;
    const char* logLine = nullptr;  // the line a refusal logs (a format with no arguments)
};

// `received` is the receive's result: the datagram's length, or a failed receive that names its
// sender (treated as an unusable datagram). `reader` is the slot whose thread received it.
TftpRouting RouteTftpDatagram(std::span<TftpPortSlot* const> slots,
                              std::span<const TftpBooking> bookings, const TftpPortSlot& reader,
                              plat::Ipv4Endpoint wakeFrom, plat::Ipv4Endpoint from,
                              std::span<const std::uint8_t> datagram, int received);
