#include "platform/receive_timeouts.h"

#include <mutex>
#include <unordered_map>

namespace plat {
namespace {

// Only sockets whose time-out was ever set have an entry; a fleet run holds a few hundred.
struct RecvTimeoutTable {
    std::mutex lock;
    std::unordered_map<SocketHandle, RecvTimeouts> entries;
};

RecvTimeoutTable& Table() {
    static RecvTimeoutTable table;
    return table;
}

}  // namespace

RecvTimeouts RecvTimeoutsOf(SocketHandle s) {
    RecvTimeoutTable& t = Table();
    std::lock_guard guard(t.lock);
    const auto found = t.entries.find(s);
    return found == t.entries.end() ? RecvTimeouts{} : found->second;
}

void NoteRecvTimeoutInForce(SocketHandle s, std::int64_t inForceUs) {
    RecvTimeoutTable& t = Table();
    std::lock_guard guard(t.lock);
    t.entries[s].inForceUs = inForceUs;
}

void NoteOwnRecvTimeout(SocketHandle s, std::int64_t ownUs) {
    RecvTimeoutTable& t = Table();
    std::lock_guard guard(t.lock);
    t.entries[s] = RecvTimeouts{ownUs, ownUs};
}

void ForgetRecvTimeouts(SocketHandle s) {
    RecvTimeoutTable& t = Table();
    std::lock_guard guard(t.lock);
    t.entries.erase(s);
}

void InheritRecvTimeouts(SocketHandle listener, SocketHandle accepted) {
    RecvTimeoutTable& t = Table();
    std::lock_guard guard(t.lock);
    const auto found = t.entries.find(listener);
    if (found == t.entries.end())
        t.entries.erase(accepted);
    else
        t.entries[accepted] = found->second;
}

}  // namespace plat
