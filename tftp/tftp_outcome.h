// How each run of the TFTP server thread ended, so that a command never reports success for a
// transfer that did not happen.
//
// Contract: the server thread records; the commands (dialog's thread) read. Requests are numbered
// 1, 2, ... in the order the server takes them. A command readies the server and takes a ticket
// (ReadyTftpServer) before it sends the device command, and afterwards asks for the outcome of
// the first request taken after that ticket.
//
// The board also says whether a run is listening: its socket is open and it waits for a request.
// Only a listening run can be armed by a command, and a run stops listening under the board's
// lock (request taken, wait over), so a command is never handed a run that has already decided
// to end: it waits for that run to close its socket and starts a fresh one.
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

// Server side. StartTftpServer notes a run as starting before it creates the thread (and as
// ended when it cannot); the rest is called on the server thread.
void NoteTftpRunStarting();
// The run's socket is open and its wait for a request begins: commands may arm it from now on.
void NoteTftpServerListening();
// The wait reached *giveUpAtMs. If a command armed the run since, the wait starts afresh from
// that arming: *giveUpAtMs moves to it plus waitMs and the result is false. Otherwise the run
// stops listening (no command can arm it any more) and the result is true.
bool EndTftpWaitUnlessArmed(std::uint64_t* giveUpAtMs, int waitMs);
// The wait ended for another cause (failed receive, empty datagram): the run stops listening.
void NoteTftpWaitOver();
// The number of the request the run thread took (the port's reader numbers it as it takes it).
std::uint32_t NoteTftpRequestTaken();
// The run thread served its request. True: nothing else is left, the run ends now and the
// outcome is recorded by NoteTftpRunEnded. False: bookings keep the run going; the outcome is
// recorded now.
bool NoteTftpRequestServed(const TftpRunOutcome& outcome);
// True when the run has nothing left to wait for and ends now (no command can arm it any more).
// waitedIdle: the single-device wait has just ended without a request; when the run goes on,
// that counts for the commands now.
bool EndTftpRunIfIdle(bool waitedIdle);
// waitedIdle: the run's single-device wait ended without a request (a command waiting for one
// learns that there will be none).
void NoteTftpRunEnded(const TftpRunOutcome& outcome, bool waitedIdle = true);

// Runs ended so far (with or without a request); lets a caller tell that a run is over.
std::uint32_t TftpRunsEnded();

// Command side.
enum class TftpReadiness {
    Ready,      // a run is listening, armed for this command; the ticket is taken
    NotOpened,  // the run started for this command ended without an open socket (cause reported)
    NotReady,   // no run was listening within the bound (an earlier run is still busy)
};
// Dialog's thread, just before the device command. Arms a listening run (its wait for a request
// starts afresh now); when there is none, waits for a run that is ending or busy to end, starts
// a fresh one and waits for its socket; all within boundMs. On Ready, *ticket is as from
// TakeTftpTicket.
TftpReadiness ReadyTftpServer(int boundMs, std::uint32_t* ticket);
// The ticket: requests taken so far. Taking it also marks the moment, so that a run ending
// without a request after this call ends WaitForTftpOutcome at once.
std::uint32_t TakeTftpTicket();
// Waits for the outcome of the first request taken after `ticket`. If no such request is taken
// within graceMs, or the server thread ends without taking one, the result is NoRequest.
// Once a request is taken it waits for its run to end (the server's own time-outs bound that).
TftpRunOutcome WaitForTftpOutcome(std::uint32_t ticket, int graceMs);
// The same within an overall bound: nothing is waited for past the monotonic time untilMs
// (plat::MonotonicMs; 0: no bound), the grace included. A request still being served then is
// abandoned: the result is Failed, and its transfer stops at its next wait and ends as failed
// (a write stores nothing), within one retransmission interval.
TftpRunOutcome WaitForTftpOutcomeUntil(std::uint32_t ticket, int graceMs, std::uint64_t untilMs);
