// An overall bound on reading one reply, on top of the bound on each single read.
//
// Contract: one instance per connection, on the thread that reads it. The clock starts when the
// instance is made. A limit of 0 or less means no overall bound.
#pragma once

#include <algorithm>
#include <cstdint>

#include "platform/net.h"
#include "platform/threads.h"

class ReplyDeadline {
  public:
    explicit ReplyDeadline(int limitMs)
        : bounded_(limitMs > 0),
          end_(plat::MonotonicMs() + static_cast<std::uint64_t>(limitMs > 0 ? limitMs : 0)) {}

    // The time-out for the next read: the per-read bound (kWaitForever for none), cut to what is
    // left of the whole. Once the deadline has passed this is 0, so the read ends as timed out
    // unless bytes are already waiting.
    int NextWaitMs(int perReadMs) const {
        if (!bounded_) return perReadMs;
        const std::uint64_t now = plat::MonotonicMs();
        const int left =
            now >= end_ ? 0 : static_cast<int>(std::min<std::uint64_t>(end_ - now, 1u << 30));
        return perReadMs == plat::kWaitForever ? left : std::min(perReadMs, left);
    }

    // True once a bounded deadline has run out.
    bool Passed() const { return bounded_ && plat::MonotonicMs() >= end_; }
    // The monotonic time the deadline runs out; 0 when there is none.
    std::uint64_t EndMs() const { return bounded_ ? end_ : 0; }

  private:
    bool bounded_;
    std::uint64_t end_;
};
