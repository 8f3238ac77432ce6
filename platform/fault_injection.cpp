// The test hooks (fault_injection.h, test_hooks.h); compiled only into the platform build that
// test executables link.
#include "platform/fault_injection.h"

#include <array>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "platform/test_hooks.h"

namespace plat {
namespace {

struct Arming {
    int skip = 0;
    int count = 0;  // 0: not armed
    int delayMs = 0;
};

std::mutex armingLock;
std::array<Arming, static_cast<std::size_t>(Op::Count_)> armings;
std::array<std::atomic<int>, static_cast<std::size_t>(Op::Count_)> calls;
std::atomic<bool> anyArmed{false};
std::atomic<int> openSockets{0};
std::atomic<int> startups{0};

}  // namespace

void InjectFailure(Op op, int skip, int count) {
    std::lock_guard lock(armingLock);
    armings[static_cast<std::size_t>(op)] = Arming{skip, count};
    anyArmed = true;
}

void InjectLateFailure(Op op, int delayMs, int skip, int count) {
    std::lock_guard lock(armingLock);
    armings[static_cast<std::size_t>(op)] = Arming{skip, count, delayMs};
    anyArmed = true;
}

void ClearInjectedFailures() {
    std::lock_guard lock(armingLock);
    armings = {};
    for (auto& c : calls) c = 0;
    anyArmed = false;
}

bool ShouldFail(Op op) {
    const auto index = static_cast<std::size_t>(op);
    calls[index].fetch_add(1);
    if (!anyArmed.load()) return false;
    int delayMs = 0;
    {
        std::lock_guard lock(armingLock);
        Arming& a = armings[index];
        if (a.count == 0) return false;
        if (a.skip > 0) {
            --a.skip;
            return false;
        }
        if (a.count > 0) --a.count;
        delayMs = a.delayMs;
    }
    if (delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
    return true;
}

int CallCount(Op op) { return calls[static_cast<std::size_t>(op)].load(); }

void CountOpenSockets(int change) {
    openSockets += change;
}
void CountNetStartups(int change) {
    startups += change;
}
int OpenSocketCount() {
    return openSockets.load();
}
int NetStartupCount() {
    return startups.load();
}

}  // namespace plat
