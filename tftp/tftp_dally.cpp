#include "tftp/tftp_dally.h"

#include <algorithm>
#include <chrono>

#include "platform/log.h"
#include "platform/threads.h"
#include "tftp/tftp_engine.h"
#include "tftp/tftp_packets.h"
#include "tftp/tftp_peer_wait.h"
#include "tftp/tftp_settings.h"

namespace {

// Each receive of the dally waits at most this long, so that EndTftpDally is seen soon.
constexpr int kSliceMs = 20;
// EndTftpDally never waits longer than this for the dallies to end.
constexpr int kEndBoundMs = 2000;

}  // namespace

bool TftpDallyWanted(TftpContext& context) {
    if (context.DallyBlock == 0 || context.Socket == plat::kNoSocket) return false;
    TftpEngineRecord& e = TftpEngine();
    std::lock_guard guard(e.lock);
    ++e.dallies;
    context.DallyEndGeneration = e.dallyEndGeneration;
    if (context.Slot != nullptr) context.Slot->Dallying = true;
    return true;
}

void RunTftpDally(TftpContext& context) {
    TftpEngineRecord& e = TftpEngine();
    const std::uint32_t endGeneration = context.DallyEndGeneration;
    const std::span<std::uint8_t> area = TransferReceiveArea(context);
    const std::uint64_t endsAt = plat::MonotonicMs() + kTftpDallyMs;
    // The last ACK also goes out again on the write's own schedule: a client with a long timer
    // would otherwise repeat its last block only after the dally is over.
    StartTftpTimer(context.Timer);
    for (;;) {
        {
            std::lock_guard guard(e.lock);
            if (e.dallyEndGeneration != endGeneration) break;
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
            ReceiveOnTftpPort(*context.Slot, area, &from, static_cast<int>(wakeAt - now));
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
    // After a run that has ended, the dally holds the last of the port.
    if (context.ClosesSocket) CloseTftpPort(context);
    std::lock_guard guard(e.lock);
    --e.dallies;
    e.changed.notify_all();
}

void EndTftpDally() {
    TftpEngineRecord& e = TftpEngine();
    std::unique_lock guard(e.lock);
    if (e.dallies == 0) return;
    ++e.dallyEndGeneration;
    e.changed.wait_for(guard, std::chrono::milliseconds(kEndBoundMs),
                       [&] { return e.dallies == 0; });
}
