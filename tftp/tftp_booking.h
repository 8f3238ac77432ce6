// Bookings: how a command gets its device's transfer from the one TFTP server, whether it is the
// only command running or one of many side by side.
//
// Contract: any thread, many at once. A command books the transfer just before it sends its
// device command (BookTftpTransfer), then, once the device closed the command connection,
// collects the booking's outcome (AwaitTftpBookingUntil); a command that gives up in between
// withdraws it (WithdrawTftpBooking). Every booking is collected or withdrawn exactly once.
//
// While a booking waits, the server takes the first valid RRQ or WRQ that comes from the address
// in *device (read when the request comes, so the command may store the address its connection
// reached after booking) and serves it on a thread of its own, bound to that request's address
// and port, with `hooks` and `record` bound to that thread (ScopedTransferHooks): the hooks are
// the transfer's source or sink (a missing UploadConfig refuses a write, a missing
// DownloadConfig a read) and catch its ReportError and ReportStatus events. The booking shares
// ownership of `device` and `record`, so both live until the transfer is over, however early the
// command returns. Requests from addresses that no waiting booking names are refused with
// ERROR 2 (and the refusal is the booking's Note when it then gets no request).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "spine/transfer_hooks.h"
#include "tftp/tftp_outcome.h"
#include "tftp/tftp_port_owner.h"

using TftpDeviceAddress = std::shared_ptr<const std::atomic<std::uint32_t>>;
// An address that outlives every booking (a process-wide record), shared without an owner.
inline TftpDeviceAddress TftpDeviceAddressOf(const std::atomic<std::uint32_t>& lasting) {
    return TftpDeviceAddress(std::shared_ptr<void>{}, &lasting);
}

// Books the transfer on the running server, or starts a server (StartTftpServer(2), when none
// runs) and waits for its socket, all within boundMs. On Ready, *booking holds the booking;
// otherwise nothing is booked. On NotOpened the cause was reported through the registered hooks
// by the server thread, and once more through the calling thread's hooks when they are a job's
// own (a bound record).
TftpReadiness BookTftpTransfer(TftpDeviceAddress device, const TransferHooksTable& hooks,
                               std::shared_ptr<void> record, int boundMs, TftpBooking* booking);
// The single-device commands' booking: the registered hooks, DeviceAddress, no record.
TftpReadiness BookSingleDeviceTransfer(int boundMs, TftpBooking* booking);
// After the device command: waits up to graceMs for the device's request; once taken, for the
// transfer's end (the transfer's own time-outs bound that), all within the monotonic time
// untilMs (0: no bound). NoRequest when no request came (the booking is over then). A transfer
// still running at untilMs is abandoned (it ends at its next wait, and is waited for so that
// its hooks are free on return) and the result is Failed.
TftpRunOutcome AwaitTftpBookingUntil(const TftpBooking& booking, int graceMs,
                                     std::uint64_t untilMs);
TftpRunOutcome AwaitTftpBooking(const TftpBooking& booking, int graceMs);
// The command gives up before collecting: a waiting booking takes no request any more. A
// transfer already taken for it is waited for, so that the hooks are no longer in use on return.
void WithdrawTftpBooking(const TftpBooking& booking);
// After a single-device command's booking is over: returns once the run that served it has
// closed (TftpServerRunning back to 0, so the next command starts a fresh server), unless other
// bookings or transfers keep it open; bounded by boundMs.
void AwaitTftpRunSettled(int boundMs);
