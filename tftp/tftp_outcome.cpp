#include "tftp/tftp_outcome.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

namespace {

// Outcomes kept for the commands; far more than one command ever needs.
constexpr std::size_t kKeptOutcomes = 16;

std::mutex outcomeLock;
std::condition_variable outcomeChanged;
std::uint32_t requestsTaken = 0;
std::uint32_t runsEnded = 0;
std::uint32_t idleRunsEnded = 0;          // runs that ended without taking a request
std::uint32_t idleRunsEndedAtTicket = 0;  // idleRunsEnded when the last ticket was taken
std::deque<TftpRunOutcome> endedRequests;

}  // namespace

std::uint32_t NoteTftpRequestTaken() {
    std::lock_guard lock(outcomeLock);
    ++requestsTaken;
    outcomeChanged.notify_all();
    return requestsTaken;
}

void NoteTftpRunEnded(const TftpRunOutcome& outcome) {
    std::lock_guard lock(outcomeLock);
    ++runsEnded;
    if (outcome.Request == 0) {
        ++idleRunsEnded;
    } else {
        endedRequests.push_back(outcome);
        if (endedRequests.size() > kKeptOutcomes) endedRequests.pop_front();
    }
    outcomeChanged.notify_all();
}

std::uint32_t TftpRequestsTaken() {
    std::lock_guard lock(outcomeLock);
    idleRunsEndedAtTicket = idleRunsEnded;
    return requestsTaken;
}

std::uint32_t TftpRunsEnded() {
    std::lock_guard lock(outcomeLock);
    return runsEnded;
}

TftpRunOutcome WaitForTftpOutcome(std::uint32_t ticket, int graceMs) {
    const std::uint32_t wanted = ticket + 1;
    const auto graceEnds = std::chrono::steady_clock::now() + std::chrono::milliseconds(graceMs);
    std::unique_lock lock(outcomeLock);
    for (;;) {
        for (const TftpRunOutcome& outcome : endedRequests)
            if (outcome.Request == wanted) return outcome;
        if (requestsTaken >= wanted) {
            // Taken and still running (or ended so long ago that it is no longer kept).
            if (!endedRequests.empty() && endedRequests.front().Request > wanted)
                return TftpRunOutcome{wanted, TftpRunResult::Failed, 0};
            outcomeChanged.wait(lock);
            continue;
        }
        if (idleRunsEnded != idleRunsEndedAtTicket) return TftpRunOutcome{};
        if (outcomeChanged.wait_until(lock, graceEnds) == std::cv_status::timeout &&
            requestsTaken < wanted)
            return TftpRunOutcome{};
    }
}
