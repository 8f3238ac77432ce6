#include "tftp/tftp_dally.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "platform/log.h"
#include "platform/threads.h"
#include "tftp/tftp_packets.h"
#include "tftp/tftp_peer_wait.h"
#include "tftp/tftp_settings.h"

namespace {

// Each receive of the dally waits at most this long, so that EndTftpDally is seen soon.
constexpr int kSliceMs = 20;
// EndTftpDally never waits longer than this for the socket to close.
constexpr int kEndBoundMs = 2000;

struct DallyRecord {
    std::mutex lock;
    std::condition_variable closed;
    bool active = false;     // a socket belongs to a dally
    bool endWanted = false;  // EndTftpDally asked the dally to stop
};

// Never destroyed: a dally may still run while the process ends.
DallyRecord& Dally() {
    static DallyRecord* const record = new DallyRecord;
    return *record;
}

}  // namespace

bool TftpDallyWanted(const TftpContext& context) {
    if (context.DallyBlock == 0 || context.Socket == plat::kNoSocket) return false;
    DallyRecord& d = Dally();
    std::lock_guard guard(d.lock);
    d.active = true;
    d.endWanted = false;
    return true;
}

void RunTftpDally(TftpContext& context) {
    DallyRecord& d = Dally();
    const std::span<std::uint8_t> area = TransferReceiveArea(context);
    const std::uint64_t endsAt = plat::MonotonicMs() + kTftpDallyMs;
    // The last ACK also goes out again on the write's own schedule: a client with a long timer
    // would otherwise repeat its last block only after the dally is over.
    StartTftpTimer(context.Timer);
    for (;;) {
        {
            std::lock_guard guard(d.lock);
            if (d.endWanted) break;
        }
        const std::uint64_t now = plat::MonotonicMs();
        if (now >= endsAt) break;
        TftpTransferTimer& timer = context.Timer;
        if (now >= timer.LastSendMs + static_cast<std::uint64_t>(timer.RetransmitMs)) {
            SendTftpAck(context, context.DallyBlock);
            timer.LastSendMs = now;
            timer.RetransmitMs = std::max(timer.RetransmitMs, TftpSettings.RetransmitMaxMs);
            continue;
        }
        const std::uint64_t wakeAt =
            std::min({endsAt, timer.LastSendMs + static_cast<std::uint64_t>(timer.RetransmitMs),
                      now + kSliceMs});
        plat::Ipv4Endpoint from{};
        const int received =
            plat::SocketRecvFrom(context.Socket, area, &from, static_cast<int>(wakeAt - now));
        if (received == plat::kTimedOut) continue;
        if (received < 0) break;
        if (from == context.PeerAddress && received >= kTftpHeaderSize &&
            TftpGet16(area.data()) == TFTP_DATA &&
            TftpGet16(area.data() + 2) == static_cast<std::uint16_t>(context.DallyBlock)) {
            plat::Log("The last block came again: acknowledging it again.\n");
            SendTftpAck(context, context.DallyBlock);
            timer.LastSendMs = plat::MonotonicMs();
        }
    }
    plat::SocketClose(context.Socket);
    plat::NetCleanup();
    context.Socket = plat::kNoSocket;
    std::lock_guard guard(d.lock);
    d.active = false;
    d.closed.notify_all();
}

void EndTftpDally() {
    DallyRecord& d = Dally();
    std::unique_lock guard(d.lock);
    if (!d.active) return;
    d.endWanted = true;
    d.closed.wait_for(guard, std::chrono::milliseconds(kEndBoundMs), [&] { return !d.active; });
}
