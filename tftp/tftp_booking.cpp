// Bookings and the threads that serve the transfers taken for them.
#include "tftp/tftp_booking.h"

#include <algorithm>
#include <chrono>

#include "platform/log.h"
#include "platform/threads.h"
#include "spine/events.h"
#include "tftp/tftp_dally.h"
#include "tftp/tftp_packets.h"
#include "tftp/tftp_server.h"

namespace {

// What the reader hands the thread of a booked transfer; the thread owns it.
struct BookedStart {
    TftpBooking booking;
    TftpPortSlot* slot;  // attached by the reader; the thread detaches and frees it
    plat::SocketHandle socket;
    plat::Ipv4Endpoint peer;
    std::vector<std::uint8_t> request;
};

void FinishBookedTransfer(TftpEngineRecord& e, BookedStart& start, const TftpRunOutcome& outcome,
                          bool dallying) {
    std::lock_guard guard(e.lock);
    start.booking->Outcome = outcome;
    start.booking->Now = TftpBookingRecord::State::Done;
    start.booking->Slot = nullptr;
    if (dallying) start.slot->Dallying = true;
    e.changed.notify_all();
}

// The thread of one booked transfer: serves the request with the booking's hooks bound, records
// the outcome, dallies after a stored write, and then leaves the port.
void ServeBookedTransfer(void* argument) {
    std::unique_ptr<BookedStart> start(static_cast<BookedStart*>(argument));
    TftpEngineRecord& e = TftpEngine();
    {
        const ScopedTransferHooks bound(&start->booking->Hooks, start->booking->Record);
        TftpContext context;
        context.Socket = start->socket;
        context.Slot = start->slot;
        context.PeerAddress = start->peer;
        const std::size_t length = std::min(start->request.size(), sizeof context.Packet);
        std::copy_n(start->request.begin(), length, context.Packet);
        ServeTftpRequest(context, static_cast<int>(length));
        const TftpRunOutcome outcome{0, context.Result, context.Bytes};
        const bool dally = TftpDallyWanted(context);
        FinishBookedTransfer(e, *start, outcome, dally);
        if (dally) RunTftpDally(context);
    }
    std::lock_guard guard(e.lock);
    std::erase(e.slots, start->slot);
    --e.bookedTransfers;
    delete start->slot;
    e.portTurn.notify_all();
    e.changed.notify_all();
}

}  // namespace

void StartBookedTransferLocked(TftpEngineRecord& e, const TftpBooking& booking,
                               plat::Ipv4Endpoint from, std::span<const std::uint8_t> request) {
    booking->Now = TftpBookingRecord::State::Taken;
    auto* slot = new TftpPortSlot;
    booking->Slot = slot;
    slot->Peer = from;
    e.slots.push_back(slot);
    ++e.bookedTransfers;
    auto* start = new BookedStart{booking, slot, e.socket, from, {request.begin(), request.end()}};
    if (plat::ThreadStart(ServeBookedTransfer, start)) return;
    plat::Log("Could not start a thread for the transfer of %s.\n",
              plat::FormatIpv4(from.address).c_str());
    booking->Outcome = TftpRunOutcome{0, TftpRunResult::Failed, 0};
    booking->Now = TftpBookingRecord::State::Done;
    booking->Slot = nullptr;
    std::erase(e.slots, slot);
    --e.bookedTransfers;
    delete slot;
    delete start;
    e.changed.notify_all();
}

TftpReadiness BookTftpTransfer(const std::atomic<std::uint32_t>* deviceAddress,
                               const TransferHooksTable& hooks, void* record, int boundMs,
                               TftpBooking* booking) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMs);
    auto made = std::make_shared<TftpBookingRecord>();
    made->DeviceAddress = deviceAddress;
    made->Hooks = hooks;
    made->Record = record;
    TftpEngineRecord& e = TftpEngine();
    std::unique_lock lock(e.lock);
    // Booked at once, so that a run started for it does not find itself idle and end.
    e.bookings.push_back(made);
    const auto fail = [&](TftpReadiness readiness) {
        std::erase(e.bookings, made);
        e.changed.notify_all();
        return readiness;
    };
    bool started = false;
    std::uint32_t endedBeforeStart = 0;
    for (;;) {
        if (e.runAlive) {
            *booking = std::move(made);
            return TftpReadiness::Ready;
        }
        if (started && e.runsEnded != endedBeforeStart) return fail(TftpReadiness::NotOpened);
        // No run at all: start one; its socket's failure is reported through this thread's hooks.
        if (!started && !e.runStarting && e.runsEnded >= e.runsStarted) {
            endedBeforeStart = e.runsEnded;
            started = true;
            e.runStarting = true;  // the others wait for this run instead of starting their own
            e.openerHooks = ActiveTransferHooks();
            e.openerRecord = ActiveTransferRecord();
            lock.unlock();
            EndTftpDally();  // a dally after a single-device run may still hold the port
            StartTftpServer(kServeBookings);
            lock.lock();
            continue;
        }
        if (e.changed.wait_until(lock, until) == std::cv_status::timeout && !e.runAlive)
            return fail(started && e.runsEnded != endedBeforeStart ? TftpReadiness::NotOpened
                                                                   : TftpReadiness::NotReady);
    }
}

TftpRunOutcome AwaitTftpBooking(const TftpBooking& booking, int graceMs) {
    return AwaitTftpBookingUntil(booking, graceMs, 0);
}

TftpRunOutcome AwaitTftpBookingUntil(const TftpBooking& booking, int graceMs,
                                     std::uint64_t untilMs) {
    const auto boundEnds = WaitEndForDeadline(untilMs);
    const auto graceEnds =
        std::min(boundEnds, std::chrono::steady_clock::now() + std::chrono::milliseconds(graceMs));
    bool abandoned = false;
    TftpEngineRecord& e = TftpEngine();
    std::unique_lock lock(e.lock);
    for (;;) {
        if (booking->Now == TftpBookingRecord::State::Done) {
            std::erase(e.bookings, booking);
            e.changed.notify_all();
            return abandoned ? TftpRunOutcome{0, TftpRunResult::Failed, 0} : booking->Outcome;
        }
        if (booking->Now == TftpBookingRecord::State::Waiting &&
            std::chrono::steady_clock::now() >= graceEnds) {
            std::erase(e.bookings, booking);
            e.changed.notify_all();
            return TftpRunOutcome{};
        }
        if (booking->Now == TftpBookingRecord::State::Taken) {
            if (abandoned || e.changed.wait_until(lock, boundEnds) != std::cv_status::timeout) {
                if (abandoned) e.changed.wait(lock);
                continue;
            }
            abandoned = true;
            if (booking->Slot != nullptr) booking->Slot->Abandoned = true;
            e.portTurn.notify_all();
        } else {
            e.changed.wait_until(lock, graceEnds);
        }
    }
}

void WithdrawTftpBooking(const TftpBooking& booking) {
    if (booking == nullptr) return;
    TftpEngineRecord& e = TftpEngine();
    std::unique_lock lock(e.lock);
    e.changed.wait(lock, [&] { return booking->Now != TftpBookingRecord::State::Taken; });
    std::erase(e.bookings, booking);
    e.changed.notify_all();
}
