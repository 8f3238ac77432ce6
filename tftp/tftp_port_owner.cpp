// The port's owner: the engine's one record and every change made to it (tftp_port_owner.h
// states the states and invariants). Nothing outside this file sees the record.
#include "tftp/tftp_port_owner.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <mutex>

#include "platform/log.h"
#include "platform/threads.h"
#include "spine/printable_text.h"
#include "spine/shared_state.h"
#include "tftp/tftp_booking.h"
#include "tftp/tftp_packets.h"
#include "tftp/tftp_routing.h"
#include "tftp/tftp_settings.h"

namespace {

// A reader with no wake-up socket (it could not be opened) looks up this often.
constexpr int kSliceWithoutWakeMs = 200;
// Bounds of the owner's own waits: for dallies to end, for a closing run to close, and for the
// engine's threads at the process's end.
constexpr int kDallyEndBoundMs = 2000;
constexpr int kCloseBoundMs = 3000;
constexpr int kStopBoundMs = 5000;

struct EngineThread {
    std::uint64_t id = 0;
    plat::ThreadHandle handle = plat::kNoThread;
    bool done = false;
};

struct PortRecord {
    std::mutex lock;
    TftpPortState state = TftpPortState::Closed;
    std::condition_variable stateChanged;  // readiness, dallies' and threads' ends
    std::condition_variable runWake;       // the run thread between its receives

    // The socket, and who holds it: the run while Open or Closing, and each dally.
    plat::SocketHandle socket = plat::kNoSocket;
    int socketHolders = 0;
    plat::SocketHandle wakeSocket = plat::kNoSocket;
    plat::Ipv4Endpoint wakeFrom{};
    plat::Ipv4Endpoint wakeTo{};

    std::uint32_t runsEnded = 0;
    TftpOpenFailure lastOpenError{};
    TftpRunOutcome runOutcome{};  // the current run's last transfer's outcome
    TftpRunOutcome lastRunOutcome{};

    // The reader's turn.
    TftpPortSlot* reader = nullptr;  // the slot whose thread is in its receive
    std::deque<TftpPortSlot*> turnQueue;
    std::vector<TftpPortSlot*> slots;  // attached: transfers, dallies, the run's

    // Bookings not yet collected, and what runs for them.
    std::vector<TftpBooking> bookings;
    TftpBooking runsOwn;  // the run's own booking, while it has one
    int waitingBookings = 0;
    int transfers = 0;
    int dallies = 0;
    std::uint32_t requestsTaken = 0;

    std::vector<EngineThread> threads;
    std::uint64_t nextThreadId = 1;
    int liveThreads = 0;
    bool stopping = false;
};

PortRecord& Port() {
    // Never destroyed: StopTftpEngine ends the threads that use it before the statics go.
    static PortRecord* const port = new PortRecord;
    return *port;
}

// --- Wake-ups ---

// A reader blocked in its receive looks again: an empty datagram from the wake-up socket.
void WakeReaderLocked(PortRecord& p) {
    if (p.reader == nullptr || p.wakeSocket == plat::kNoSocket) return;
    plat::SocketSendTo(p.wakeSocket, {}, p.wakeTo);
}

void EndSlotLocked(PortRecord& p, TftpPortSlot& slot) {
    slot.EndNow = true;
    slot.Wake.notify_all();
    if (p.reader == &slot) WakeReaderLocked(p);
}

void OpenWakeSocketLocked(PortRecord& p) {
    plat::Ipv4Endpoint server{};
    if (!plat::SocketLocalAddress(p.socket, &server) || server.port == 0) return;
    const plat::SocketHandle wake = plat::UdpOpen();
    if (wake == plat::kNoSocket) return;
    plat::Ipv4Endpoint from{};
    if (!plat::SocketBind(wake, plat::Ipv4Endpoint{plat::kLoopbackAddress, 0}) ||
        !plat::SocketLocalAddress(wake, &from)) {
        plat::SocketClose(wake);
        return;
    }
    p.wakeSocket = wake;
    p.wakeFrom = plat::Ipv4Endpoint{plat::kLoopbackAddress, from.port};
    p.wakeTo = plat::Ipv4Endpoint{plat::kLoopbackAddress, server.port};
}

// The last holder lets go of the socket: it and the wake-up socket close, and the socket's
// NetStartup is released. Closed under the lock, so that whoever waits for the port to be free
// finds it free once the record says so; no thread can be in a receive on it by then (every
// transfer, dally and the run have left).
void LetGoOfSocket(PortRecord& p) {
    if (--p.socketHolders > 0 || p.socket == plat::kNoSocket) return;
    if (p.wakeSocket != plat::kNoSocket) plat::SocketClose(p.wakeSocket);
    plat::SocketClose(p.socket);
    plat::NetCleanup();
    p.socket = plat::kNoSocket;
    p.wakeSocket = plat::kNoSocket;
    p.wakeFrom = p.wakeTo = plat::Ipv4Endpoint{};
    p.stateChanged.notify_all();
}

// --- Slots and the reader's turn ---

void DetachSlotLocked(PortRecord& p, TftpPortSlot& slot) {
    std::erase(p.slots, &slot);
    std::erase(p.turnQueue, &slot);
    slot.WantsTurn = false;
}

// The reader leaves ReceiveOnTftpPort: the next thread that asked for the turn gets it, or the
// run thread when bookings wait and nobody asked.
void PassTurnLocked(PortRecord& p, TftpPortSlot& leaving) {
    if (leaving.WantsTurn) {
        std::erase(p.turnQueue, &leaving);
        leaving.WantsTurn = false;
    }
    if (p.reader != nullptr) return;
    if (!p.turnQueue.empty()) {
        p.turnQueue.front()->Wake.notify_one();
    } else if (p.waitingBookings > 0 && !leaving.RunReader) {
        p.runWake.notify_one();
    }
}

// --- Bookings ---

void SetBookingDoneLocked(PortRecord& p, TftpBookingRecord& booking) {
    if (booking.Now == TftpBookingRecord::State::Waiting) --p.waitingBookings;
    booking.Now = TftpBookingRecord::State::Done;
    booking.Slot = nullptr;
    booking.Changed.notify_all();
    p.runWake.notify_one();
    // A run whose reader waits only for this booking has nothing left to read for.
    if (p.waitingBookings == 0 && p.reader != nullptr && p.reader->RunReader) WakeReaderLocked(p);
}

void EraseBookingLocked(PortRecord& p, const TftpBooking& booking) {
    std::erase(p.bookings, booking);
}

// A request refused while bookings wait is the likeliest reason they get none: each keeps the
// first such note for its outcome.
void NoteRefusedRequestLocked(PortRecord& p, plat::Ipv4Endpoint from,
                              std::span<const std::uint8_t> datagram) {
    if (datagram.size() < 2) return;
    const std::uint16_t opcode = TftpGet16(datagram.data());
    if (opcode != TFTP_RRQ && opcode != TFTP_WRQ) return;
    const TftpRequestText text = ParseTftpRequest(datagram.subspan(2));
    const std::string name = text.wellFormed ? PrintableText(text.name, kQuotedPeerTextLimit)
                                             : std::string("a file");
    for (const TftpBooking& booking : p.bookings) {
        if (booking->Now != TftpBookingRecord::State::Waiting || !booking->Outcome.Note.empty())
            continue;
        const std::uint32_t device = booking->Device != nullptr ? booking->Device->load() : 0;
        if (device == 0) continue;
        booking->Outcome.Note = "A TFTP request for " + name + " came from " +
                                plat::FormatIpv4(from.address) + ", not from the device (" +
                                plat::FormatIpv4(device) + "); it was refused.";
    }
}

// --- Threads ---

struct ThreadStartRecord {
    void (*entry)(void*);
    void* argument;
    std::uint64_t id;
};

void EngineThreadEntry(void* raw) {
    const ThreadStartRecord start = *static_cast<ThreadStartRecord*>(raw);
    delete static_cast<ThreadStartRecord*>(raw);
    start.entry(start.argument);
    PortRecord& p = Port();
    std::lock_guard guard(p.lock);
    for (EngineThread& thread : p.threads)
        if (thread.id == start.id) thread.done = true;
    --p.liveThreads;
    p.stateChanged.notify_all();
}

// Joins the threads that have ended; outside the lock.
void ReapEndedThreads() {
    PortRecord& p = Port();
    std::vector<plat::ThreadHandle> ended;
    {
        std::lock_guard guard(p.lock);
        for (const EngineThread& thread : p.threads)
            if (thread.done && thread.handle != plat::kNoThread) ended.push_back(thread.handle);
        std::erase_if(p.threads,
                      [](const EngineThread& t) { return t.done && t.handle != plat::kNoThread; });
    }
    for (plat::ThreadHandle handle : ended) plat::ThreadJoin(handle);
}

// Starts an engine thread (the run's, or a transfer's), joinable by StopTftpEngine.
bool StartEngineThreadLocked(PortRecord& p, void (*entry)(void*), void* argument) {
    static std::once_flag registered;
    std::call_once(registered, [] { std::atexit(StopTftpEngine); });
    if (p.stopping) return false;
    const std::uint64_t id = p.nextThreadId++;
    p.threads.push_back(EngineThread{id, plat::kNoThread, false});
    ++p.liveThreads;
    auto* start = new ThreadStartRecord{entry, argument, id};
    const plat::ThreadHandle handle = plat::ThreadStartJoinable(EngineThreadEntry, start);
    if (handle == plat::kNoThread) {
        delete start;
        std::erase_if(p.threads, [&](const EngineThread& t) { return t.id == id; });
        --p.liveThreads;
        return false;
    }
    for (EngineThread& thread : p.threads)
        if (thread.id == id) thread.handle = handle;
    return true;
}

// --- Transfers taken for bookings ---

void StartTransferLocked(PortRecord& p, const TftpBooking& booking, plat::Ipv4Endpoint from,
                         std::span<const std::uint8_t> request) {
    auto slot = std::make_unique<TftpPortSlot>();
    slot->Peer = from;
    TftpPortSlot* attached = slot.get();
    std::vector<std::uint8_t> bytes(request.begin(), request.end());
    auto* start = new TftpTransferStart{booking, std::move(slot),  p.socket,
                                        from,    std::move(bytes), ++p.requestsTaken};
    --p.waitingBookings;
    booking->Now = TftpBookingRecord::State::Taken;
    booking->Slot = attached;
    p.slots.push_back(attached);
    ++p.transfers;
    if (StartEngineThreadLocked(p, ServeBookedTransfer, start)) {
        booking->Changed.notify_all();
        return;
    }
    plat::Log("Could not start a thread for the transfer of %s.\n",
              plat::FormatIpv4(from.address).c_str());
    DetachSlotLocked(p, *attached);
    --p.transfers;
    booking->Outcome.Request = start->number;
    booking->Outcome.Result = TftpRunResult::Failed;
    ++p.waitingBookings;  // SetBookingDoneLocked counts it out again
    booking->Now = TftpBookingRecord::State::Waiting;
    SetBookingDoneLocked(p, *booking);
    delete start;
}

bool RunWantsToReadLocked(const PortRecord& p) {
    return !p.stopping && p.waitingBookings > 0;
}

}  // namespace

// --- The run ---

bool OwnerRunStarting() {
    PortRecord& p = Port();
    std::unique_lock held(p.lock);
    // A run that is closing is over in a moment: the new one waits for it.
    p.stateChanged.wait_for(held, std::chrono::milliseconds(kCloseBoundMs),
                            [&] { return p.state != TftpPortState::Closing; });
    if (p.state != TftpPortState::Closed || p.stopping) return false;
    p.state = TftpPortState::Opening;
    p.lastOpenError = TftpOpenFailure{};
    return true;
}

bool OwnerStartRunThread(void (*entry)(void*), void* argument) {
    ReapEndedThreads();
    PortRecord& p = Port();
    std::lock_guard guard(p.lock);
    if (StartEngineThreadLocked(p, entry, argument)) return true;
    p.state = TftpPortState::Closed;
    ++p.runsEnded;
    p.lastRunOutcome = TftpRunOutcome{};
    p.stateChanged.notify_all();
    return false;
}

void OwnerRunNotOpened(const TftpOpenFailure& why) {
    PortRecord& p = Port();
    std::lock_guard guard(p.lock);
    p.state = TftpPortState::Closed;
    p.lastOpenError = why;
    ++p.runsEnded;
    p.lastRunOutcome = TftpRunOutcome{};
    p.stateChanged.notify_all();
}

void OwnerRunOpened(plat::SocketHandle socket, TftpPortSlot& runSlot) {
    PortRecord& p = Port();
    std::lock_guard guard(p.lock);
    p.socket = socket;
    p.socketHolders = 1;
    OpenWakeSocketLocked(p);
    p.state = TftpPortState::Open;
    p.runOutcome = TftpRunOutcome{};
    runSlot.RunReader = true;
    p.slots.push_back(&runSlot);
    if (p.waitingBookings == 0) {
        // Started with nobody's booking: the run waits for its device's request on its own.
        auto own = std::make_shared<TftpBookingRecord>();
        own->Device = TftpDeviceAddressOf(DeviceAddress);
        own->Hooks = TransferHooks;
        own->RunsOwn = true;
        own->WaitsUntilMs =
            plat::MonotonicMs() + static_cast<std::uint64_t>(TftpSettings.FirstRequestTimeoutMs);
        p.bookings.push_back(own);
        p.runsOwn = own;
        ++p.waitingBookings;
    }
    p.stateChanged.notify_all();
}

TftpRunStep OwnerRunNextStep(TftpPortSlot& runSlot, int* waitMs) {
    PortRecord& p = Port();
    std::unique_lock held(p.lock);
    (void)runSlot;
    for (;;) {
        const std::uint64_t now = plat::MonotonicMs();
        const TftpBooking own = p.runsOwn;
        if (own != nullptr && own->Now == TftpBookingRecord::State::Waiting &&
            (now >= own->WaitsUntilMs || p.stopping)) {
            SetBookingDoneLocked(p, *own);
            EraseBookingLocked(p, own);
            return TftpRunStep::OwnBookingExpired;
        }
        if (p.stopping && p.transfers == 0) {
            for (const TftpBooking& booking : p.bookings)
                if (booking->Now == TftpBookingRecord::State::Waiting)
                    SetBookingDoneLocked(p, *booking);
        }
        if (p.waitingBookings == 0 && p.transfers == 0) {
            p.state = TftpPortState::Closing;
            return TftpRunStep::End;
        }
        const bool ownWaits = own != nullptr && own->Now == TftpBookingRecord::State::Waiting;
        if (RunWantsToReadLocked(p) && p.reader == nullptr) {
            std::uint64_t until =
                now + static_cast<std::uint64_t>(std::max(1, TftpSettings.FirstRequestTimeoutMs));
            if (ownWaits) until = std::min(until, own->WaitsUntilMs);
            *waitMs = static_cast<int>(until - now);
            return TftpRunStep::Read;
        }
        if (ownWaits) {
            p.runWake.wait_for(held, std::chrono::milliseconds(own->WaitsUntilMs - now));
        } else {
            p.runWake.wait(held);
        }
    }
}

void OwnerRunReceiveFailed() {
    PortRecord& p = Port();
    std::lock_guard guard(p.lock);
    for (const TftpBooking& booking : p.bookings)
        if (booking->Now == TftpBookingRecord::State::Waiting) SetBookingDoneLocked(p, *booking);
}

void OwnerRunLetsGo(TftpPortSlot& runSlot) {
    PortRecord& p = Port();
    std::unique_lock held(p.lock);
    DetachSlotLocked(p, runSlot);
    if (p.runsOwn != nullptr) {
        EraseBookingLocked(p, p.runsOwn);
        p.runsOwn.reset();
    }
    LetGoOfSocket(p);
}

void OwnerRunClosed() {
    PortRecord& p = Port();
    std::lock_guard guard(p.lock);
    p.state = TftpPortState::Closed;
    ++p.runsEnded;
    p.lastRunOutcome = p.runOutcome;
    p.stateChanged.notify_all();
}

std::uint32_t TftpRunsEnded() {
    PortRecord& p = Port();
    std::lock_guard guard(p.lock);
    return p.runsEnded;
}

TftpRunOutcome LastTftpRunOutcome() {
    PortRecord& p = Port();
    std::lock_guard guard(p.lock);
    return p.lastRunOutcome;
}

std::chrono::steady_clock::time_point WaitEndForDeadline(std::uint64_t untilMs) {
    if (untilMs == 0) return std::chrono::steady_clock::time_point::max();
    const std::uint64_t nowMs = plat::MonotonicMs();
    return std::chrono::steady_clock::now() +
           std::chrono::milliseconds(untilMs > nowMs ? untilMs - nowMs : 0);
}

// --- Datagrams ---

int ReceiveOnTftpPort(TftpPortSlot& slot, std::span<std::uint8_t> buffer, plat::Ipv4Endpoint* from,
                      int waitMs) {
    PortRecord& p = Port();
    const std::uint64_t deadline = plat::MonotonicMs() + static_cast<std::uint64_t>(waitMs);
    std::unique_lock held(p.lock);
    const auto leave = [&](int result) {
        PassTurnLocked(p, slot);
        return result;
    };
    for (bool tried = false;;) {
        if (!slot.Mailbox.empty()) {
            TftpMailedDatagram mailed = std::move(slot.Mailbox.front());
            slot.Mailbox.pop_front();
            const std::size_t length = std::min(mailed.Bytes.size(), buffer.size());
            std::copy_n(mailed.Bytes.begin(), length, buffer.begin());
            *from = mailed.From;
            return leave(static_cast<int>(length));
        }
        if (slot.EndNow) return leave(plat::kTimedOut);
        if (slot.RunReader && !RunWantsToReadLocked(p)) return leave(plat::kTimedOut);
        const std::uint64_t now = plat::MonotonicMs();
        if (now >= deadline && tried) return leave(plat::kTimedOut);
        tried = true;
        int remaining = static_cast<int>(deadline > now ? deadline - now : 0);
        if (p.reader != nullptr || p.socket == plat::kNoSocket) {
            if (!slot.WantsTurn) {
                slot.WantsTurn = true;
                p.turnQueue.push_back(&slot);
            }
            slot.Wake.wait_for(held, std::chrono::milliseconds(remaining));
            continue;
        }
        if (slot.WantsTurn) {
            std::erase(p.turnQueue, &slot);
            slot.WantsTurn = false;
        }
        if (p.wakeSocket == plat::kNoSocket) remaining = std::min(remaining, kSliceWithoutWakeMs);
        p.reader = &slot;
        const plat::SocketHandle socket = p.socket;
        held.unlock();
        plat::Ipv4Endpoint sender{};
        const int received = plat::SocketRecvFrom(socket, buffer, &sender, remaining);
        held.lock();
        p.reader = nullptr;
        if (received == plat::kTimedOut) continue;
        // A failed receive that names nobody is the reader's to report.
        if (received < 0 && sender.port == 0) return leave(received);
        const auto datagram = buffer.first(static_cast<std::size_t>(std::max(received, 0)));
        const TftpRouting routing =
            RouteTftpDatagram(p.slots, p.bookings, slot, p.wakeFrom, sender, datagram, received);
        switch (routing.route) {
            case TftpRoute::Wake:
                continue;
            case TftpRoute::Mine:
                *from = sender;
                return leave(received);
            case TftpRoute::Mail: {
                TftpPortSlot& owner = *p.slots[routing.index];
                owner.Mailbox.push_back(
                    TftpMailedDatagram{sender, {datagram.begin(), datagram.end()}});
                owner.Wake.notify_one();
                continue;
            }
            case TftpRoute::StartBooked:
                StartTransferLocked(p, p.bookings[routing.index], sender, datagram);
                continue;
            case TftpRoute::Foreign:
                NoteRefusedRequestLocked(p, sender, datagram);
                break;
            default:
                break;
        }
        held.unlock();
        switch (routing.route) {
            case TftpRoute::RefuseRequest:
                plat::Log("...received TFTP request from %s ...\n",
                          plat::FormatIpv4(sender.address).c_str());
                SendTftpErrorTo(socket, sender, routing.errorCode);
                if (routing.logLine != nullptr)
                    plat::Log(routing.logLine);
                else
                    plat::Log("Refused the request: answered ERROR %d (%s).\n", routing.errorCode,
                              TftpErrorText(routing.errorCode));
                break;
            case TftpRoute::NotARequest:
                plat::Log("Ignoring a datagram of %d bytes from %s that is not a request.\n",
                          received, plat::FormatIpv4(sender.address).c_str());
                break;
            case TftpRoute::Foreign:
                // An ERROR packet gets no answer, so two servers cannot keep each other busy.
                plat::Log("Refused a datagram from %s:%u, which is not the device.\n",
                          plat::FormatIpv4(sender.address).c_str(),
                          static_cast<unsigned>(sender.port));
                if (!(datagram.size() >= 2 && TftpGet16(datagram.data()) == TFTP_ERROR))
                    SendTftpErrorTo(socket, sender, TFTP_ERR_ACCESS_VIOLATION);
                break;
            case TftpRoute::UnknownPeer:
                plat::Log("Ignoring a datagram from %s:%u, which is not the requester.\n",
                          plat::FormatIpv4(sender.address).c_str(),
                          static_cast<unsigned>(sender.port));
                SendTftpErrorTo(socket, sender, TFTP_ERR_UNKNOWN_TID);
                break;
            default:
                break;
        }
        held.lock();
    }
}

// --- Transfers and dallies ---

void OwnerTransferFinished(const TftpBooking& booking, TftpPortSlot& slot,
                           const TftpRunOutcome& outcome, bool dally) {
    PortRecord& p = Port();
    std::lock_guard guard(p.lock);
    // A transfer that says why it ended tells its own story; one that does not (no request came)
    // keeps a refusal noted while the booking waited.
    const std::string note = booking->Outcome.Note;
    booking->Outcome = outcome;
    if (!note.empty() && booking->Outcome.Note.empty()) booking->Outcome.Note = note;
    p.runOutcome = outcome;
    --p.transfers;
    if (dally && p.socket != plat::kNoSocket) {
        slot.Dallying = true;
        ++p.dallies;
        ++p.socketHolders;
    }
    SetBookingDoneLocked(p, *booking);
}

void OwnerTransferLeft(TftpPortSlot& slot) {
    PortRecord& p = Port();
    std::unique_lock held(p.lock);
    DetachSlotLocked(p, slot);
    if (slot.Dallying) {
        slot.Dallying = false;
        --p.dallies;
        LetGoOfSocket(p);
    }
    p.stateChanged.notify_all();
    p.runWake.notify_one();
}

void OwnerEndDallies() {
    PortRecord& p = Port();
    std::unique_lock held(p.lock);
    if (p.dallies == 0) return;
    for (TftpPortSlot* slot : p.slots)
        if (slot->Dallying) EndSlotLocked(p, *slot);
    // Over once the dallies have gone, and with them a closed run's socket.
    p.stateChanged.wait_for(held, std::chrono::milliseconds(kDallyEndBoundMs), [&] {
        return p.dallies == 0 && (p.state != TftpPortState::Closed || p.socket == plat::kNoSocket);
    });
}

// --- Bookings ---

TftpReadiness OwnerBook(const TftpBooking& booking, int boundMs, TftpOpenFailure* why) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMs);
    PortRecord& p = Port();
    std::unique_lock held(p.lock);
    // Booked at once, so that a run started for it does not find itself idle and end.
    p.bookings.push_back(booking);
    ++p.waitingBookings;
    // A run left waiting on its own (started with nobody's booking) was waiting for this
    // command: the booking takes its place.
    if (p.runsOwn != nullptr && p.runsOwn->Now == TftpBookingRecord::State::Waiting) {
        SetBookingDoneLocked(p, *p.runsOwn);
        EraseBookingLocked(p, p.runsOwn);
    }
    p.runWake.notify_one();
    const auto fail = [&](TftpReadiness readiness) {
        SetBookingDoneLocked(p, *booking);
        EraseBookingLocked(p, booking);
        return readiness;
    };
    bool started = false;
    std::uint32_t endedBeforeStart = 0;
    for (;;) {
        if (p.stopping) return fail(TftpReadiness::NotReady);
        if (p.state == TftpPortState::Open) return TftpReadiness::Ready;
        if (started && p.runsEnded != endedBeforeStart) {
            *why = p.lastOpenError;
            return fail(TftpReadiness::NotOpened);
        }
        if (!started && p.state == TftpPortState::Closed) {
            started = true;
            endedBeforeStart = p.runsEnded;
            held.unlock();
            StartTftpServer(kServeOneRequest);
            held.lock();
            continue;
        }
        if (p.stateChanged.wait_until(held, until) == std::cv_status::timeout &&
            p.state != TftpPortState::Open) {
            if (started && p.runsEnded != endedBeforeStart) {
                *why = p.lastOpenError;
                return fail(TftpReadiness::NotOpened);
            }
            return fail(TftpReadiness::NotReady);
        }
    }
}

TftpRunOutcome OwnerAwait(const TftpBooking& booking, int graceMs, std::uint64_t untilMs) {
    const auto boundEnds = WaitEndForDeadline(untilMs);
    const auto graceEnds =
        std::min(boundEnds, std::chrono::steady_clock::now() + std::chrono::milliseconds(graceMs));
    bool abandoned = false;
    PortRecord& p = Port();
    std::unique_lock held(p.lock);
    for (;;) {
        switch (booking->Now) {
            case TftpBookingRecord::State::Done: {
                EraseBookingLocked(p, booking);
                TftpRunOutcome outcome = booking->Outcome;
                if (abandoned) {
                    outcome.Result = TftpRunResult::Failed;
                    outcome.Bytes = 0;
                    if (outcome.Note.empty())
                        outcome.Note = "still running at the command's time-out";
                }
                return outcome;
            }
            case TftpBookingRecord::State::Waiting:
                if (std::chrono::steady_clock::now() >= graceEnds) {
                    SetBookingDoneLocked(p, *booking);
                    EraseBookingLocked(p, booking);
                    TftpRunOutcome none;
                    none.Note = booking->Outcome.Note;
                    return none;
                }
                booking->Changed.wait_until(held, graceEnds);
                break;
            case TftpBookingRecord::State::Taken:
                if (abandoned) {
                    booking->Changed.wait(held);
                } else if (booking->Changed.wait_until(held, boundEnds) ==
                               std::cv_status::timeout &&
                           booking->Now == TftpBookingRecord::State::Taken) {
                    // Past the command's deadline: the transfer ends at its next wait, and is
                    // waited for so that its hooks are free on return.
                    abandoned = true;
                    if (booking->Slot != nullptr) EndSlotLocked(p, *booking->Slot);
                }
                break;
        }
    }
}

void OwnerWithdraw(const TftpBooking& booking) {
    PortRecord& p = Port();
    std::unique_lock held(p.lock);
    if (booking->Now == TftpBookingRecord::State::Waiting) SetBookingDoneLocked(p, *booking);
    booking->Changed.wait(held, [&] { return booking->Now != TftpBookingRecord::State::Taken; });
    EraseBookingLocked(p, booking);
}

void OwnerAwaitRunSettled(int boundMs) {
    PortRecord& p = Port();
    std::unique_lock held(p.lock);
    p.stateChanged.wait_for(held, std::chrono::milliseconds(boundMs), [&] {
        return p.state == TftpPortState::Closed || p.waitingBookings > 0 || p.transfers > 0;
    });
}

// --- Process end ---

void StopTftpEngine() {
    PortRecord& p = Port();
    {
        std::unique_lock held(p.lock);
        p.stopping = true;
        for (TftpPortSlot* slot : p.slots) EndSlotLocked(p, *slot);
        WakeReaderLocked(p);
        p.runWake.notify_all();
        p.stateChanged.notify_all();
        p.stateChanged.wait_for(held, std::chrono::milliseconds(kStopBoundMs),
                                [&] { return p.liveThreads == 0; });
    }
    ReapEndedThreads();
}
