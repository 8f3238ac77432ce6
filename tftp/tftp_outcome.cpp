#include "tftp/tftp_outcome.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

#include "platform/threads.h"
#include "tftp/tftp_server.h"

namespace {

// Outcomes kept for the commands; far more than one command ever needs.
constexpr std::size_t kKeptOutcomes = 16;

struct OutcomeBoard {
    std::mutex lock;
    std::condition_variable changed;
    std::uint32_t requestsTaken = 0;
    std::uint32_t runsStarted = 0;
    std::uint32_t runsEnded = 0;
    std::uint32_t idleRunsEnded = 0;          // runs that ended without taking a request
    std::uint32_t idleRunsEndedAtTicket = 0;  // idleRunsEnded when the last ticket was taken
    std::deque<TftpRunOutcome> endedRequests;
    // The current run's socket is open and it waits for a request.
    bool listening = false;
    // When a command last armed a listening run.
    std::uint64_t lastArmedMs = 0;
};

// Never destroyed: a server thread records its run's end after it has lowered its flag, and the
// process may be ending at that very moment.
OutcomeBoard& Board() {
    static OutcomeBoard* const board = new OutcomeBoard;
    return *board;
}

}  // namespace

void NoteTftpRunStarting() {
    OutcomeBoard& b = Board();
    std::lock_guard lock(b.lock);
    ++b.runsStarted;
}

void NoteTftpServerListening() {
    OutcomeBoard& b = Board();
    std::lock_guard lock(b.lock);
    b.listening = true;
    b.changed.notify_all();
}

bool EndTftpWaitUnlessArmed(std::uint64_t* giveUpAtMs, int waitMs) {
    OutcomeBoard& b = Board();
    std::lock_guard lock(b.lock);
    const std::uint64_t fresh = b.lastArmedMs + static_cast<std::uint64_t>(waitMs);
    if (b.listening && fresh > *giveUpAtMs) {
        *giveUpAtMs = fresh;
        return false;
    }
    b.listening = false;
    return true;
}

void NoteTftpWaitOver() {
    OutcomeBoard& b = Board();
    std::lock_guard lock(b.lock);
    b.listening = false;
}

std::uint32_t NoteTftpRequestTaken() {
    OutcomeBoard& b = Board();
    std::lock_guard lock(b.lock);
    b.listening = false;
    ++b.requestsTaken;
    b.changed.notify_all();
    return b.requestsTaken;
}

void NoteTftpRunEnded(const TftpRunOutcome& outcome) {
    OutcomeBoard& b = Board();
    std::lock_guard lock(b.lock);
    b.listening = false;
    ++b.runsEnded;
    if (outcome.Request == 0) {
        ++b.idleRunsEnded;
    } else {
        b.endedRequests.push_back(outcome);
        if (b.endedRequests.size() > kKeptOutcomes) b.endedRequests.pop_front();
    }
    b.changed.notify_all();
}

std::uint32_t TakeTftpTicket() {
    OutcomeBoard& b = Board();
    std::lock_guard lock(b.lock);
    b.idleRunsEndedAtTicket = b.idleRunsEnded;
    return b.requestsTaken;
}

std::uint32_t TftpRunsEnded() {
    OutcomeBoard& b = Board();
    std::lock_guard lock(b.lock);
    return b.runsEnded;
}

TftpRunOutcome WaitForTftpOutcome(std::uint32_t ticket, int graceMs) {
    const std::uint32_t wanted = ticket + 1;
    const auto graceEnds = std::chrono::steady_clock::now() + std::chrono::milliseconds(graceMs);
    OutcomeBoard& b = Board();
    std::unique_lock lock(b.lock);
    for (;;) {
        for (const TftpRunOutcome& outcome : b.endedRequests)
            if (outcome.Request == wanted) return outcome;
        if (b.requestsTaken >= wanted) {
            // Taken and still running (or ended so long ago that it is no longer kept).
            if (!b.endedRequests.empty() && b.endedRequests.front().Request > wanted)
                return TftpRunOutcome{wanted, TftpRunResult::Failed, 0};
            b.changed.wait(lock);
            continue;
        }
        if (b.idleRunsEnded != b.idleRunsEndedAtTicket) return TftpRunOutcome{};
        if (b.changed.wait_until(lock, graceEnds) == std::cv_status::timeout &&
            b.requestsTaken < wanted)
            return TftpRunOutcome{};
    }
}

TftpReadiness ReadyTftpServer(int boundMs, std::uint32_t* ticket) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMs);
    OutcomeBoard& b = Board();
    std::unique_lock lock(b.lock);
    bool started = false;
    std::uint32_t endedBeforeStart = 0;
    for (;;) {
        if (b.listening) {
            b.lastArmedMs = plat::MonotonicMs();
            b.idleRunsEndedAtTicket = b.idleRunsEnded;
            *ticket = b.requestsTaken;
            return TftpReadiness::Ready;
        }
        if (started && b.runsEnded != endedBeforeStart) return TftpReadiness::NotOpened;
        // No run at all (an earlier one may have just closed its socket): start a fresh one.
        if (!started && b.runsEnded >= b.runsStarted) {
            endedBeforeStart = b.runsEnded;
            started = true;
            lock.unlock();
            StartTftpServer(2);
            lock.lock();
            continue;
        }
        if (b.changed.wait_until(lock, until) == std::cv_status::timeout && !b.listening)
            return started && b.runsEnded != endedBeforeStart ? TftpReadiness::NotOpened
                                                              : TftpReadiness::NotReady;
    }
}
