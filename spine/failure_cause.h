// Why a step failed, in the terms of a terminal tool's error line: what was being done, where,
// and the system's own words for it ("10.1.0.21:80: connect: Connection refused").
//
// Contract: filled on the thread where the call failed, right after it, so that the system's
// text is that call's. RaiseFailure hands the cause to the thread's ReportError hook as the
// event's detail (a const FailureCause*, alive for the call only: a hook that keeps it copies
// it). A thread with no bound record (the single-device command and its server's thread, see
// transfer_hooks.h) also keeps the latest cause in one process-wide slot, which the command
// reads for its report; RaiseError on such a thread empties it, since that failure has no cause
// of its own. The slot is guarded: any thread.
#pragma once

#include <string>

struct FailureCause {
    std::string where;  // "HOST:PORT", "port 69", a file's path (the operator's file)
    std::string what;   // "connect", "send", "receive", "resolve", "bind", "open", "write", ...
    std::string text;   // the system's words, or ours for a bound that ran out
    bool Empty() const { return what.empty(); }
};

// "WHERE: WHAT: TEXT"; empty for an empty cause.
std::string CauseLine(const FailureCause& cause);

// Raises `code` through the thread's hooks with `cause` as its detail.
bool RaiseFailure(int code, const FailureCause& cause);
// Keeps `cause` for the command without raising an event (a file step that has no event).
void NoteFailureCause(const FailureCause& cause);
// The slot of the threads with no bound record: emptied when a command starts, read at its end.
void ForgetUnboundFailure();
FailureCause LatestUnboundFailure();
