// Bookings: how a command that backs up or restores one device among several at once gets its
// device's transfer from the one TFTP server.
//
// Contract: any thread, many at once. A command books the transfer just before it sends its
// device command (BookTftpTransfer), then, once the device closed the command connection,
// collects the booking's outcome (AwaitTftpBooking); a command that gives up in between withdraws
// it (WithdrawTftpBooking). Every booking is collected or withdrawn exactly once.
//
// While a booking waits, the server takes the first RRQ or WRQ that comes from the address in
// *deviceAddress (read when the request comes, so the command may store the address its
// connection reached after booking) and serves it on a thread of its own, bound to that request's
// address and port, with `hooks` bound to that thread (ScopedTransferHooks, with `record`): the
// hooks are the transfer's source or sink (a missing UploadConfig refuses a write, a missing
// DownloadConfig a read) and catch its ReportError and ReportStatus events. Requests from
// addresses that no waiting booking (nor the single-device path) names are refused with ERROR 2.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <span>

#include "spine/transfer_hooks.h"
#include "tftp/tftp_engine.h"
#include "tftp/tftp_outcome.h"

using TftpBooking = std::shared_ptr<TftpBookingRecord>;

// Books the transfer on the running server, or starts a server and waits for its socket, all
// within boundMs. On Ready, *booking holds the booking; otherwise nothing is booked. `hooks`,
// `record` and *deviceAddress must outlive the booking's collection or withdrawal.
TftpReadiness BookTftpTransfer(const std::atomic<std::uint32_t>* deviceAddress,
                               const TransferHooksTable& hooks, void* record, int boundMs,
                               TftpBooking* booking);
// After the device command: waits up to graceMs for the device's request; once taken, for the
// transfer's end (the transfer's own time-outs bound that). NoRequest when no request came; the
// booking is withdrawn then. The outcome's Request is 0.
TftpRunOutcome AwaitTftpBooking(const TftpBooking& booking, int graceMs);
// The same within an overall bound, the monotonic time untilMs (0: none): a transfer still
// running then is abandoned (it ends at its next wait, within one retransmission interval, and
// is waited for so that the hooks are free on return) and the result is Failed.
TftpRunOutcome AwaitTftpBookingUntil(const TftpBooking& booking, int graceMs,
                                     std::uint64_t untilMs);
// The command gives up before collecting: a waiting booking takes no request any more. A
// transfer already taken for it is waited for, so that the hooks are no longer in use on return.
void WithdrawTftpBooking(const TftpBooking& booking);

// Engine side (under the engine's lock, from the port's reader): the booked device's request
// came from `from`; its transfer starts on a thread of its own.
void StartBookedTransferLocked(TftpEngineRecord& engine, const TftpBooking& booking,
                               plat::Ipv4Endpoint from, std::span<const std::uint8_t> request);
// Engine side (under the lock): the single-device path's request came from `from`.
void TakeSingleDeviceRequestLocked(TftpEngineRecord& engine, plat::Ipv4Endpoint from);
