// The port shared by every transfer: the reader's turn, and where each datagram goes.
#include "tftp/tftp_engine.h"

#include <algorithm>
#include <chrono>

#include "platform/log.h"
#include "platform/threads.h"
#include "spine/shared_state.h"
#include "tftp/tftp_booking.h"
#include "tftp/tftp_packets.h"
#include "tftp/tftp_server.h"

namespace {

// What the reader does with a datagram that is not its own, once it has let go of the lock.
enum class Route {
    Mine,         // the reader's own: hand it back
    Delivered,    // put into its owner's mailbox
    StartBooked,  // a booked device's request: its transfer starts on a thread of its own
    NotARequest,  // from a booked device but not a request: logged and dropped
    Foreign,      // a request no command waits for, or a stranger's datagram while one waits
    UnknownPeer,  // while transfers run, from none of their peers: ERROR 5, logged
    Drop,         // nothing waits on the port but dallies: dropped in silence
};

bool IsRequest(std::span<const std::uint8_t> datagram) {
    if (datagram.size() < 2) return false;
    const std::uint16_t opcode = TftpGet16(datagram.data());
    return opcode == TFTP_RRQ || opcode == TFTP_WRQ;
}

void Mail(TftpEngineRecord& e, TftpPortSlot& owner, plat::Ipv4Endpoint from,
          std::span<const std::uint8_t> datagram) {
    owner.Mailbox.push_back(TftpMailedDatagram{from, {datagram.begin(), datagram.end()}});
    e.portTurn.notify_all();
}

// The rules, in order (under the lock). `received` may be a failed receive that names its
// sender (an oversized datagram): such a one is handed to the reader when it is the reader's,
// and otherwise treated as any stranger's datagram.
Route RouteDatagram(TftpEngineRecord& e, TftpPortSlot& reader, plat::Ipv4Endpoint from,
                    std::span<const std::uint8_t> datagram, int received,
                    std::shared_ptr<TftpBookingRecord>* booked) {
    // 1. From the peer of a running (or dallying) transfer: that transfer's.
    for (TftpPortSlot* slot : e.slots) {
        if (slot->RunThread || !(slot->Peer == from)) continue;
        if (slot == &reader) return Route::Mine;
        if (received < 0) return Route::Drop;
        Mail(e, *slot, from, datagram);
        return Route::Delivered;
    }
    // 2. From the device of the single-device path while it waits: the run thread's, which
    //    takes its request there (and from then on the transfer's datagrams come by rule 1).
    if (e.listening && e.runSlot != nullptr && from.address == DeviceAddress.load()) {
        if (received >= 0 && IsRequest(datagram)) TakeSingleDeviceRequestLocked(e, from);
        if (e.runSlot == &reader) return Route::Mine;
        if (received < 0) return Route::Drop;
        Mail(e, *e.runSlot, from, datagram);
        return Route::Delivered;
    }
    // 3. From a booked device: its request starts its transfer; anything else is dropped.
    for (const auto& booking : e.bookings) {
        if (booking->Now != TftpBookingRecord::State::Waiting ||
            booking->DeviceAddress->load() != from.address)
            continue;
        if (received < 0 || !IsRequest(datagram)) return Route::NotARequest;
        *booked = booking;
        return Route::StartBooked;
    }
    // 4. From anybody else: a request, or anything while a command waits, is refused; the rest
    //    is a stray among running transfers.
    const bool anyWaiting = (received >= 0 && IsRequest(datagram)) || e.listening ||
                            std::any_of(e.bookings.begin(), e.bookings.end(), [](const auto& b) {
                                return b->Now == TftpBookingRecord::State::Waiting;
                            });
    if (anyWaiting) return Route::Foreign;
    const bool anyRunning = std::any_of(e.slots.begin(), e.slots.end(), [](const auto* slot) {
        return !slot->RunThread && !slot->Dallying;
    });
    return anyRunning ? Route::UnknownPeer : Route::Drop;
}

}  // namespace

TftpEngineRecord& TftpEngine() {
    // Never destroyed: a dally or a booked transfer may still run while the process ends.
    static TftpEngineRecord* const engine = new TftpEngineRecord;
    return *engine;
}

void AttachTftpSlot(TftpPortSlot& slot) {
    TftpEngineRecord& e = TftpEngine();
    std::lock_guard guard(e.lock);
    e.slots.push_back(&slot);
}

void DetachTftpSlot(TftpPortSlot& slot) {
    TftpEngineRecord& e = TftpEngine();
    std::lock_guard guard(e.lock);
    std::erase(e.slots, &slot);
    e.portTurn.notify_all();
}

void CloseTftpPort(TftpContext& context) {
    TftpEngineRecord& e = TftpEngine();
    {
        std::lock_guard guard(e.lock);
        std::erase(e.slots, context.Slot);
        if (e.runSlot == context.Slot) e.runSlot = nullptr;
        e.socket = plat::kNoSocket;
    }
    plat::SocketClose(context.Socket);
    plat::NetCleanup();
    context.Socket = plat::kNoSocket;
}

bool TftpRunIdleLocked(const TftpEngineRecord& e) {
    return !e.listening && !e.busy && e.bookedTransfers == 0 &&
           std::none_of(e.bookings.begin(), e.bookings.end(),
                        [](const auto& b) { return b->Now == TftpBookingRecord::State::Waiting; });
}

int ReceiveOnTftpPort(TftpPortSlot& slot, std::span<std::uint8_t> buffer, plat::Ipv4Endpoint* from,
                      int waitMs) {
    TftpEngineRecord& e = TftpEngine();
    const std::uint64_t deadline = plat::MonotonicMs() + static_cast<std::uint64_t>(waitMs);
    std::unique_lock guard(e.lock);
    for (bool tried = false;;) {
        if (!slot.Mailbox.empty()) {
            TftpMailedDatagram mailed = std::move(slot.Mailbox.front());
            slot.Mailbox.pop_front();
            const std::size_t length = std::min(mailed.Bytes.size(), buffer.size());
            std::copy_n(mailed.Bytes.begin(), length, buffer.begin());
            *from = mailed.From;
            return static_cast<int>(length);
        }
        const std::uint64_t now = plat::MonotonicMs();
        if (now >= deadline && tried) return plat::kTimedOut;
        if (slot.Abandoned && !slot.RunThread) return plat::kTimedOut;  // the caller gives up
        tried = true;
        const int remaining = static_cast<int>(deadline > now ? deadline - now : 0);
        if (e.readerBusy) {
            e.portTurn.wait_for(guard, std::chrono::milliseconds(remaining));
            continue;
        }
        e.readerBusy = true;
        const plat::SocketHandle socket = e.socket;
        guard.unlock();
        plat::Ipv4Endpoint sender{};
        const int received = plat::SocketRecvFrom(socket, buffer, &sender, remaining);
        guard.lock();
        e.readerBusy = false;
        e.portTurn.notify_all();
        if (received == plat::kTimedOut) continue;
        // A failed receive that names nobody is the reader's to report.
        if (received < 0 && sender.port == 0) return received;
        const auto datagram = buffer.first(static_cast<std::size_t>(std::max(received, 0)));
        std::shared_ptr<TftpBookingRecord> booked;
        const Route route = RouteDatagram(e, slot, sender, datagram, received, &booked);
        if (route == Route::Mine) {
            *from = sender;
            return received;
        }
        if (route == Route::Delivered) continue;
        if (route == Route::StartBooked) {
            StartBookedTransferLocked(e, booked, sender, datagram);
            continue;
        }
        guard.unlock();
        switch (route) {
            case Route::NotARequest:
                plat::Log("Ignoring a datagram of %d bytes from %s that is not a request.\n",
                          received, plat::FormatIpv4(sender.address).c_str());
                break;
            case Route::Foreign:
                // An ERROR packet gets no answer, so two servers cannot keep each other busy.
                plat::Log("Refused a datagram from %s:%u, which is not the device.\n",
                          plat::FormatIpv4(sender.address).c_str(),
                          static_cast<unsigned>(sender.port));
                if (!(datagram.size() >= 2 && TftpGet16(datagram.data()) == TFTP_ERROR))
                    SendTftpErrorTo(socket, sender, TFTP_ERR_ACCESS_VIOLATION);
                break;
            case Route::UnknownPeer:
                plat::Log("Ignoring a datagram from %s:%u, which is not the requester.\n",
                          plat::FormatIpv4(sender.address).c_str(),
                          static_cast<unsigned>(sender.port));
                SendTftpErrorTo(socket, sender, TFTP_ERR_UNKNOWN_TID);
                break;
            default:
                break;
        }
        guard.lock();
    }
}

std::chrono::steady_clock::time_point WaitEndForDeadline(std::uint64_t untilMs) {
    if (untilMs == 0) return std::chrono::steady_clock::time_point::max();
    const std::uint64_t nowMs = plat::MonotonicMs();
    return std::chrono::steady_clock::now() +
           std::chrono::milliseconds(untilMs > nowMs ? untilMs - nowMs : 0);
}
