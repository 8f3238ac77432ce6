// The owner of the TFTP port: the one place that holds and changes the engine's state (the run,
// the socket, the bookings, the transfers and dallies on the port, and the threads that serve
// them). Its record is private to tftp_port_owner.cpp; everything else in the TFTP layer asks it
// through the procedures below. Internal to the TFTP layer.
//
// The run's states, as one run goes through them:
//   Closed  --StartTftpServer--> Opening  --socket open--> Open  --nothing left--> Closing
//   Opening --socket failed--> Closed;  Closing --"ftp server thread finished"--> Closed
// Invariants (all under the owner's lock):
// - at most one run is not Closed; TftpServerRunning is 1 exactly while the run is Open or
//   Closing, written by the run thread alone;
// - the socket is open while the run is Open or Closing or a dally still holds it; whoever lets
//   go of it last closes it and releases its NetStartup;
// - a booking is Waiting (its device's request not yet come), Taken (a transfer serves it) or
//   Done; only Waiting bookings take requests, and a Taken one has exactly one transfer;
// - the run is Open while a booking waits or a transfer runs; it ends once neither is left
//   (dallies do not keep it: they keep only the socket);
// - at most one thread receives from the socket at a time (the reader); a datagram it receives
//   for another transfer goes to that transfer's mailbox and wakes that transfer alone; when the
//   reader is done it hands the turn to the next thread that asked for it.
// What a transfer writes into (its booking's hooks and record) is held by shared ownership, so it
// lives until the transfer and its dally have ended, whoever returns first.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/net.h"
#include "spine/failure_cause.h"
#include "spine/transfer_hooks.h"
#include "tftp/tftp_outcome.h"
#include "tftp/tftp_server.h"

enum class TftpPortState { Closed, Opening, Open, Closing };

// A datagram received by another thread for a transfer.
struct TftpMailedDatagram {
    plat::Ipv4Endpoint From{};
    std::vector<std::uint8_t> Bytes;
};

// One transfer's (or the run thread's) place on the port. Owned by the thread that waits on it;
// attached to the owner from the moment its peer is known until that thread leaves the port.
// Every field but EndNow is read and written under the owner's lock.
struct TftpPortSlot {
    plat::Ipv4Endpoint Peer{};
    std::deque<TftpMailedDatagram> Mailbox;
    std::condition_variable Wake;  // mail came, the reader's turn is this slot's, or EndNow
    bool Dallying = false;         // a stored write acknowledging repeats of its last block
    bool RunReader = false;        // the run thread's slot: takes the bookings' requests
    bool WantsTurn = false;        // queued for the reader's turn
    // The transfer is to end at its next wait, as one whose peer went silent: its command gave
    // up on it, the dally was ended, or the process ends.
    std::atomic<bool> EndNow{false};
};

// A command's booking of the transfer it is about to ask its device for (tftp_booking.h).
struct TftpBookingRecord {
    // The address the device's request must come from, read when a request comes (the command
    // may store the address its connection reached after booking).
    std::shared_ptr<const std::atomic<std::uint32_t>> Device;
    TransferHooksTable Hooks{};    // the source or sink of the bytes, and the event capture
    std::shared_ptr<void> Record;  // what the hooks work on (ActiveTransferRecord)
    // The run's own booking: a run started with nobody's booking waits for its device's request
    // on its own, within FirstRequestTimeoutMs.
    bool RunsOwn = false;
    std::uint64_t WaitsUntilMs = 0;  // the own booking's end; 0 for a command's
    enum class State { Waiting, Taken, Done } Now = State::Waiting;
    TftpRunOutcome Outcome{};
    TftpPortSlot* Slot = nullptr;     // the transfer's slot while it is Taken
    std::condition_variable Changed;  // the booker's own wake-up
};
using TftpBooking = std::shared_ptr<TftpBookingRecord>;

// What the reader hands the thread of a taken transfer; that thread owns it.
struct TftpTransferStart {
    TftpBooking booking;
    std::unique_ptr<TftpPortSlot> slot;  // attached by the reader, detached by OwnerTransferLeft
    plat::SocketHandle socket;
    plat::Ipv4Endpoint peer;
    std::vector<std::uint8_t> request;
    std::uint32_t number;  // the request's number (TftpRunOutcome::Request)
};
// The body of a taken transfer's thread (tftp_booking.cpp): argument is a TftpTransferStart.
void ServeBookedTransfer(void* argument);

// Why a run's socket could not be opened: the event reported, the socket error behind it and
// the cause as it was raised.
struct TftpOpenFailure {
    int event = 0;
    int socketError = 0;
    FailureCause cause{};  // the failed step on the port, with the system's words
};

// --- The run (tftp_server_thread.cpp) ---
// StartTftpServer, before it creates the thread: Closed -> Opening (a closing run is waited for,
// bounded). False when a run is already under way.
bool OwnerRunStarting();
// Creates the run thread; when it cannot, the run is over (Opening -> Closed).
bool OwnerStartRunThread(void (*entry)(void*), void* argument);
// The run thread could not open its socket (its cause reported through the registered hooks):
// Opening -> Closed; waiting bookers learn NotOpened, and why.
void OwnerRunNotOpened(const TftpOpenFailure& why);
// The run thread opened `socket`: Opening -> Open. When no booking waits, the run books its own
// request (the registered hooks, DeviceAddress) for FirstRequestTimeoutMs.
void OwnerRunOpened(plat::SocketHandle socket, TftpPortSlot& runSlot);
enum class TftpRunStep {
    Read,               // a booking waits and nobody reads: receive for *waitMs
    OwnBookingExpired,  // the run's own booking got no request in time (log it, ask again)
    End,                // no booking waits and no transfer runs: Open -> Closing
};
// The run thread between its receives; sleeps until one of the steps is due (woken, not polled).
TftpRunStep OwnerRunNextStep(TftpPortSlot& runSlot, int* waitMs);
// The run's receive failed (the socket itself): every waiting booking ends without a request.
void OwnerRunReceiveFailed();
// Closing: the run lets go of its slot and of the socket (closed now unless a dally holds it).
void OwnerRunLetsGo(TftpPortSlot& runSlot);
// Closing -> Closed, after TftpServerRunning fell: the run's outcome is recorded.
void OwnerRunClosed();

// --- Datagrams (any thread that waits for its peer) ---
// Like plat::SocketRecvFrom on the server socket, but only datagrams for `slot` come back (from
// slot.Peer; for the run's slot none: requests start their transfers on threads of their own);
// the rest go to their owners or are answered and dropped (tftp_routing.h). Returns the length,
// plat::kTimedOut (at once when slot.EndNow is set, or for the run's slot when no booking waits
// any more), or a failed receive (< 0).
int ReceiveOnTftpPort(TftpPortSlot& slot, std::span<std::uint8_t> buffer, plat::Ipv4Endpoint* from,
                      int waitMs);

// --- Transfers and dallies (tftp_booking.cpp, tftp_dally.cpp) ---
// The transfer's outcome is final: the booking becomes Done and its booker is woken. dally: the
// slot keeps the socket for the write's dally.
void OwnerTransferFinished(const TftpBooking& booking, TftpPortSlot& slot,
                           const TftpRunOutcome& outcome, bool dally);
// The transfer (and its dally) has left the port: the slot is detached; the last holder of a
// closed run's socket closes it.
void OwnerTransferLeft(TftpPortSlot& slot);
// Ends every dally and waits (bounded) until they have let go of the port.
void OwnerEndDallies();

// --- Bookings (tftp_booking.h's procedures are built on these) ---
// *why: the socket failure, on NotOpened.
TftpReadiness OwnerBook(const TftpBooking& booking, int boundMs, TftpOpenFailure* why);
TftpRunOutcome OwnerAwait(const TftpBooking& booking, int graceMs, std::uint64_t untilMs);
void OwnerWithdraw(const TftpBooking& booking);
// Waits until the run is Closed, or kept open by bookings or transfers, within boundMs.
void OwnerAwaitRunSettled(int boundMs);

// --- Process end ---
// Ends every dally and transfer, wakes every wait, and joins the engine's threads (bounded), so
// that none of them is still at work while the process tears down its statics. Registered with
// std::atexit when the first engine thread starts; safe to call more than once.
void StopTftpEngine();

// A command's deadline on plat::MonotonicMs()'s clock, as a point for condition waits; 0 stands
// for no deadline (the furthest point there is).
std::chrono::steady_clock::time_point WaitEndForDeadline(std::uint64_t untilMs);
