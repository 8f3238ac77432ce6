// How a transfer ended, so that a command never reports success for a transfer that did not
// happen, and whether a command could get the TFTP server ready at all.
//
// Contract: plain values. Transfers record them (tftp_port_owner.h); commands read them from
// their bookings (tftp_booking.h).
#pragma once

#include <cstdint>
#include <string>

enum class TftpRunResult {
    FileServed,   // a read transfer sent the whole image and its last block was acknowledged
    LastAckMissing,  // a read transfer sent every block, but the last one's ACK never arrived:
                     // the device may or may not have the whole file
    FileStored,   // a write transfer received the whole text and it is stored in TargetPath
    Failed,       // a transfer started and failed (peer error, time-out, send/receive)
    StoreFailed,  // a write transfer's text could not be stored (target not created or written)
    Refused,      // a request that was answered with an ERROR packet and not served or taken
    NoRequest,    // no request came: the wait timed out, or ended on a receive failure
};

struct TftpRunOutcome {
    std::uint32_t Request = 0;  // number of the request (1, 2, ... per process); 0 when none
    TftpRunResult Result = TftpRunResult::NoRequest;
    std::uint64_t Bytes = 0;  // file bytes served, or stored after conversion
    // Why no request came, when the server knows more than that: a request refused while the
    // booking waited ("A TFTP request for upload-image came from ..."); or why a transfer that
    // started failed ("no ACK for block-2 within 1500 ms"). Empty otherwise.
    std::string Note;
};

enum class TftpReadiness {
    Ready,      // the server's socket is open and the booking waits for its device's request
    NotOpened,  // the run started for this booking ended without an open socket (cause reported)
    NotReady,   // no run was open within the bound (an earlier run is still ending)
};

// Runs of the server thread ended so far, and the outcome of the last one: its last transfer's,
// or NoRequest when it served none. For callers that start a run without a booking of their own
// (tests, benchmarks).
std::uint32_t TftpRunsEnded();
TftpRunOutcome LastTftpRunOutcome();
