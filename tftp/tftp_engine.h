// The engine's one record: the port the server listens on, the transfers it runs at once, the
// bookings commands made for their devices' transfers, and the board of the single-device runs.
// Internal to the TFTP layer.
//
// Contract: one process-wide TftpEngineRecord, never destroyed; every field is read and written
// under its `lock`. A run thread (tftp_server_thread.cpp) opens the port, takes the requests of
// the single-device path itself, and closes the port when nothing is left to wait for; each
// transfer taken for a booking runs on a thread of its own (tftp_booking.cpp). Every thread
// that waits for datagrams waits through ReceiveOnTftpPort: whichever of them holds the reader's
// turn receives from the socket and hands datagrams that are not its own to their owners, so a
// lone transfer receives straight from the socket, as one server thread always did.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "platform/net.h"
#include "spine/transfer_hooks.h"
#include "tftp/tftp_outcome.h"
#include "tftp/tftp_server.h"

// A datagram received by another thread for a transfer.
struct TftpMailedDatagram {
    plat::Ipv4Endpoint From{};
    std::vector<std::uint8_t> Bytes;
};

// One transfer's (or the run thread's) place on the port: the peer whose datagrams it takes, and
// the datagrams another thread received for it. Lives in the thread that waits on it; attached
// to the engine while that thread may receive.
struct TftpPortSlot {
    plat::Ipv4Endpoint Peer{};
    std::deque<TftpMailedDatagram> Mailbox;
    bool Dallying = false;   // a stored write acknowledging repeats of its last block
    bool RunThread = false;  // the run thread's own slot: requests of the single-device path
    // The command this transfer serves has given up on it (WaitForTftpOutcomeUntil): the
    // transfer ends at its next wait, as one whose peer went silent. Cleared when the slot takes
    // a new request.
    std::atomic<bool> Abandoned{false};
};

// A command's booking of the transfer it is about to ask its device for.
struct TftpBookingRecord {
    const std::atomic<std::uint32_t>* DeviceAddress = nullptr;  // read when a request comes
    TransferHooksTable Hooks{};  // the source or sink of the bytes, and the error capture
    void* Record = nullptr;      // what the hooks work on (ActiveTransferRecord)
    enum class State { Waiting, Taken, Done } Now = State::Waiting;
    TftpRunOutcome Outcome{};
    TftpPortSlot* Slot = nullptr;  // the transfer's slot while it is Taken
};

struct TftpEngineRecord {
    std::mutex lock;
    std::condition_variable changed;   // the board: runs, requests, bookings' outcomes
    std::condition_variable portTurn;  // the reader's turn and the mailboxes

    // The run.
    plat::SocketHandle socket = plat::kNoSocket;
    bool runAlive = false;  // the run's socket is open and it has not decided to end
    bool runStarting = false;  // a command started a run whose socket is not open yet
    std::uint32_t runsStarted = 0;
    std::uint32_t runsEnded = 0;

    // The single-device path: requests from DeviceAddress, numbered in the order they are taken.
    bool listening = false;  // the run waits for such a request and can be armed
    bool busy = false;       // the run thread serves one
    std::uint64_t lastArmedMs = 0;
    std::uint64_t listenSinceMs = 0;   // when the current wait for such a request began
    std::uint32_t currentRequest = 0;  // number of the one the run thread serves
    std::uint32_t requestsTaken = 0;
    std::uint32_t idleRunsEnded = 0;          // waits that ended without a request
    std::uint32_t idleRunsEndedAtTicket = 0;  // idleRunsEnded when the last ticket was taken
    std::deque<TftpRunOutcome> endedRequests;

    // The port.
    bool readerBusy = false;
    std::vector<TftpPortSlot*> slots;
    TftpPortSlot* runSlot = nullptr;

    // Bookings, and the transfers taken for them (running or dallying).
    std::vector<std::shared_ptr<TftpBookingRecord>> bookings;
    int bookedTransfers = 0;
    // The hooks of the command that started a run for its booking: the run reports a socket that
    // cannot be opened through them.
    TransferHooksTable openerHooks{};
    void* openerRecord = nullptr;

    // Dallies (tftp_dally.h).
    int dallies = 0;
    std::uint32_t dallyEndGeneration = 0;  // raised by EndTftpDally: every dally ends
};

TftpEngineRecord& TftpEngine();

// Any thread that waits for its peer: like plat::SocketRecvFrom on the server socket, but only
// datagrams from slot.Peer (for the run thread's slot: those the single-device path waits for)
// come back; the rest go to their owners or are answered and dropped (tftp_engine.cpp says how).
// The slot must be attached. Returns the length, plat::kTimedOut, or a failed receive (< 0).
int ReceiveOnTftpPort(TftpPortSlot& slot, std::span<std::uint8_t> buffer, plat::Ipv4Endpoint* from,
                      int waitMs);
void AttachTftpSlot(TftpPortSlot& slot);
void DetachTftpSlot(TftpPortSlot& slot);

// The run's end: detaches context.Slot, closes the socket and releases its NetStartup.
void CloseTftpPort(TftpContext& context);

// True (under the lock) when a run has nothing left to wait for: no single-device request is
// awaited or served, no booking waits and no booked transfer runs or dallies.
bool TftpRunIdleLocked(const TftpEngineRecord& engine);

// A command's deadline on plat::MonotonicMs()'s clock, as a point for the engine's condition
// waits; 0 stands for no deadline (the furthest point there is).
std::chrono::steady_clock::time_point WaitEndForDeadline(std::uint64_t untilMs);
