// How each run of the TFTP server thread ended, so that a command never reports success for a
// transfer that did not happen.
//
// Contract: the server thread records; the commands (dialog's thread) read. Requests are numbered
// 1, 2, ... in the order the server takes them. A command takes a ticket (TakeTftpTicket) before
// it sends the device command, and afterwards asks for the outcome of the first request taken
// after that ticket.
#pragma once

#include <cstdint>

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
    std::uint32_t Request = 0;  // number of the request the run took; 0 when it took none
    TftpRunResult Result = TftpRunResult::NoRequest;
    std::uint64_t Bytes = 0;  // file bytes served, or stored after conversion
};

// Server thread side.
std::uint32_t NoteTftpRequestTaken();
void NoteTftpRunEnded(const TftpRunOutcome& outcome);

// Runs ended so far (with or without a request); lets a caller tell that a run is over.
std::uint32_t TftpRunsEnded();

// Command side.
// The ticket: requests taken so far. Taking it also marks the moment, so that a run ending
// without a request after this call ends WaitForTftpOutcome at once.
std::uint32_t TakeTftpTicket();
// Waits for the outcome of the first request taken after `ticket`. If no such request is taken
// within graceMs, or the server thread ends without taking one, the result is NoRequest.
// Once a request is taken it waits for its run to end (the server's own time-outs bound that).
TftpRunOutcome WaitForTftpOutcome(std::uint32_t ticket, int graceMs);
