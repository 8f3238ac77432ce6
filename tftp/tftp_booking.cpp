// Bookings' procedures, and the thread of a transfer taken for one.
#include "tftp/tftp_booking.h"

#include <algorithm>

#include "platform/log.h"
#include "spine/events.h"
#include "spine/shared_state.h"
#include "tftp/tftp_dally.h"
#include "tftp/tftp_server.h"

void ServeBookedTransfer(void* argument) {
    std::unique_ptr<TftpTransferStart> start(static_cast<TftpTransferStart*>(argument));
    TftpContext context;
    context.Socket = start->socket;
    context.Slot = start->slot.get();
    context.PeerAddress = start->peer;
    const std::size_t length = std::min(start->request.size(), sizeof context.Packet);
    std::copy_n(start->request.begin(), length, context.Packet);
    TftpRunOutcome outcome;
    {
        const ScopedTransferHooks bound(&start->booking->Hooks, start->booking->Record.get());
        const bool normalEnd = ServeTftpRequest(context, static_cast<int>(length));
        if (normalEnd) RaiseStatus(STATUS_SERVER_DONE);
        outcome = TftpRunOutcome{start->number, context.Result, context.Bytes, context.Failure};
    }
    // The hooks are let go of before the dally: it only acknowledges the last block again.
    const bool dally = TftpDallyWanted(context);
    OwnerTransferFinished(start->booking, *start->slot, outcome, dally);
    if (dally) RunTftpDally(context);
    OwnerTransferLeft(*start->slot);
}

TftpReadiness BookTftpTransfer(TftpDeviceAddress device, const TransferHooksTable& hooks,
                               std::shared_ptr<void> record, int boundMs, TftpBooking* booking) {
    auto made = std::make_shared<TftpBookingRecord>();
    made->Device = std::move(device);
    made->Hooks = hooks;
    made->Record = std::move(record);
    TftpOpenFailure why{};
    const TftpReadiness readiness = OwnerBook(made, boundMs, &why);
    if (readiness == TftpReadiness::Ready) {
        *booking = std::move(made);
    } else if (readiness == TftpReadiness::NotOpened && why.event != 0 &&
               ActiveTransferRecord() != nullptr) {
        // A job's own capture learns the cause too, with the socket error behind it.
        plat::SetLastSocketError(why.socketError);
        RaiseFailure(why.event, why.cause);
    }
    return readiness;
}

TftpReadiness BookSingleDeviceTransfer(int boundMs, TftpBooking* booking) {
    return BookTftpTransfer(TftpDeviceAddressOf(DeviceAddress), ActiveTransferHooks(), nullptr,
                            boundMs, booking);
}

TftpRunOutcome AwaitTftpBookingUntil(const TftpBooking& booking, int graceMs,
                                     std::uint64_t untilMs) {
    return OwnerAwait(booking, graceMs, untilMs);
}

TftpRunOutcome AwaitTftpBooking(const TftpBooking& booking, int graceMs) {
    return OwnerAwait(booking, graceMs, 0);
}

void WithdrawTftpBooking(const TftpBooking& booking) {
    if (booking != nullptr) OwnerWithdraw(booking);
}

void AwaitTftpRunSettled(int boundMs) {
    OwnerAwaitRunSettled(boundMs);
}
