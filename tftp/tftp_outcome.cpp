#include "tftp/tftp_outcome.h"

#include <algorithm>
#include <chrono>

#include "platform/threads.h"
#include "tftp/tftp_booking.h"
#include "tftp/tftp_engine.h"
#include "tftp/tftp_server.h"

namespace {

// Outcomes kept for the commands; far more than one command ever needs.
constexpr std::size_t kKeptOutcomes = 16;

void KeepOutcome(TftpEngineRecord& e, const TftpRunOutcome& outcome) {
    e.endedRequests.push_back(outcome);
    if (e.endedRequests.size() > kKeptOutcomes) e.endedRequests.pop_front();
}

}  // namespace

void NoteTftpRunStarting() {
    TftpEngineRecord& e = TftpEngine();
    std::lock_guard lock(e.lock);
    ++e.runsStarted;
}

void NoteTftpServerListening() {
    TftpEngineRecord& e = TftpEngine();
    std::lock_guard lock(e.lock);
    e.listening = true;
    e.listenSinceMs = plat::MonotonicMs();
    e.changed.notify_all();
}

bool EndTftpWaitUnlessArmed(std::uint64_t* giveUpAtMs, int waitMs) {
    TftpEngineRecord& e = TftpEngine();
    std::lock_guard lock(e.lock);
    const std::uint64_t fresh =
        std::max(e.lastArmedMs, e.listenSinceMs) + static_cast<std::uint64_t>(waitMs);
    if (e.listening && fresh > *giveUpAtMs) {
        *giveUpAtMs = fresh;
        return false;
    }
    e.listening = false;
    return true;
}

void NoteTftpWaitOver() {
    TftpEngineRecord& e = TftpEngine();
    std::lock_guard lock(e.lock);
    e.listening = false;
}

void TakeSingleDeviceRequestLocked(TftpEngineRecord& e, plat::Ipv4Endpoint from) {
    e.listening = false;
    e.busy = true;
    e.currentRequest = ++e.requestsTaken;
    e.runSlot->Peer = from;
    e.runSlot->RunThread = false;
    e.runSlot->Abandoned = false;
    e.changed.notify_all();
}

std::uint32_t NoteTftpRequestTaken() {
    TftpEngineRecord& e = TftpEngine();
    std::lock_guard lock(e.lock);
    return e.currentRequest;
}

bool NoteTftpRequestServed(const TftpRunOutcome& outcome) {
    TftpEngineRecord& e = TftpEngine();
    std::lock_guard lock(e.lock);
    e.busy = false;
    if (!TftpRunIdleLocked(e)) {
        KeepOutcome(e, outcome);
        e.changed.notify_all();
        return false;
    }
    e.runAlive = false;
    return true;
}

bool EndTftpRunIfIdle(bool waitedIdle) {
    TftpEngineRecord& e = TftpEngine();
    std::lock_guard lock(e.lock);
    if (TftpRunIdleLocked(e)) {
        e.runAlive = false;
        return true;
    }
    if (waitedIdle) {
        ++e.idleRunsEnded;
        e.changed.notify_all();
    }
    return false;
}

void NoteTftpRunEnded(const TftpRunOutcome& outcome, bool waitedIdle) {
    TftpEngineRecord& e = TftpEngine();
    std::lock_guard lock(e.lock);
    e.listening = false;
    e.runAlive = false;
    e.runStarting = false;
    ++e.runsEnded;
    if (outcome.Request != 0)
        KeepOutcome(e, outcome);
    else if (waitedIdle)
        ++e.idleRunsEnded;
    e.changed.notify_all();
}

std::uint32_t TakeTftpTicket() {
    TftpEngineRecord& e = TftpEngine();
    std::lock_guard lock(e.lock);
    e.idleRunsEndedAtTicket = e.idleRunsEnded;
    return e.requestsTaken;
}

std::uint32_t TftpRunsEnded() {
    TftpEngineRecord& e = TftpEngine();
    std::lock_guard lock(e.lock);
    return e.runsEnded;
}

TftpRunOutcome WaitForTftpOutcome(std::uint32_t ticket, int graceMs) {
    return WaitForTftpOutcomeUntil(ticket, graceMs, 0);
}

TftpRunOutcome WaitForTftpOutcomeUntil(std::uint32_t ticket, int graceMs, std::uint64_t untilMs) {
    const std::uint32_t wanted = ticket + 1;
    const auto boundEnds = WaitEndForDeadline(untilMs);
    const auto graceEnds =
        std::min(boundEnds, std::chrono::steady_clock::now() + std::chrono::milliseconds(graceMs));
    TftpEngineRecord& e = TftpEngine();
    std::unique_lock lock(e.lock);
    for (;;) {
        for (const TftpRunOutcome& outcome : e.endedRequests)
            if (outcome.Request == wanted) return outcome;
        if (e.requestsTaken >= wanted) {
            // Taken and still running (or ended so long ago that it is no longer kept).
            if (!e.endedRequests.empty() && e.endedRequests.front().Request > wanted)
                return TftpRunOutcome{wanted, TftpRunResult::Failed, 0};
            if (untilMs == 0) {
                e.changed.wait(lock);
                continue;
            }
            if (e.changed.wait_until(lock, boundEnds) == std::cv_status::timeout) {
                if (e.busy && e.currentRequest == wanted && e.runSlot != nullptr) {
                    e.runSlot->Abandoned = true;
                    e.portTurn.notify_all();
                }
                return TftpRunOutcome{wanted, TftpRunResult::Failed, 0};
            }
            continue;
        }
        if (e.idleRunsEnded != e.idleRunsEndedAtTicket) return TftpRunOutcome{};
        if (e.changed.wait_until(lock, graceEnds) == std::cv_status::timeout &&
            e.requestsTaken < wanted)
            return TftpRunOutcome{};
    }
}

TftpReadiness ReadyTftpServer(int boundMs, std::uint32_t* ticket) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMs);
    TftpEngineRecord& e = TftpEngine();
    std::unique_lock lock(e.lock);
    bool started = false;
    std::uint32_t endedBeforeStart = 0;
    for (;;) {
        // A run that serves only bookings takes this command's request too.
        if (!e.listening && e.runAlive && !e.busy && e.runSlot != nullptr) {
            e.listening = true;
            e.listenSinceMs = plat::MonotonicMs();
        }
        if (e.listening) {
            e.lastArmedMs = plat::MonotonicMs();
            e.idleRunsEndedAtTicket = e.idleRunsEnded;
            *ticket = e.requestsTaken;
            return TftpReadiness::Ready;
        }
        if (started && e.runsEnded != endedBeforeStart) return TftpReadiness::NotOpened;
        // No run at all (an earlier one may have just closed its socket): start a fresh one.
        if (!started && !e.runStarting && e.runsEnded >= e.runsStarted) {
            endedBeforeStart = e.runsEnded;
            started = true;
            e.runStarting = true;
            lock.unlock();
            StartTftpServer(kServeOneRequest);
            lock.lock();
            continue;
        }
        if (e.changed.wait_until(lock, until) == std::cv_status::timeout && !e.listening)
            return started && e.runsEnded != endedBeforeStart ? TftpReadiness::NotOpened
                                                              : TftpReadiness::NotReady;
    }
}
