#include "tftp/tftp_dally.h"

#include <algorithm>

#include "platform/log.h"
#include "platform/threads.h"
#include "tftp/tftp_packets.h"
#include "tftp/tftp_peer_wait.h"
#include "tftp/tftp_port_owner.h"
#include "tftp/tftp_settings.h"

bool TftpDallyWanted(const TftpContext& context) {
    return context.DallyBlock != 0 && context.Socket != plat::kNoSocket &&
           context.Slot != nullptr && !context.Slot->EndNow;
}

void RunTftpDally(TftpContext& context) {
    const std::span<std::uint8_t> area = TransferReceiveArea(context);
    const std::uint64_t endsAt = plat::MonotonicMs() + kTftpDallyMs;
    // The last ACK also goes out again on the write's own schedule: a client with a long timer
    // would otherwise repeat its last block only after the dally is over.
    StartTftpTimer(context.Timer);
    TftpTransferTimer& timer = context.Timer;
    for (;;) {
        const std::uint64_t now = plat::MonotonicMs();
        if (now >= endsAt || context.Slot->EndNow) return;
        if (now >= timer.LastSendMs + static_cast<std::uint64_t>(timer.RetransmitMs)) {
            SendTftpAck(context, context.DallyBlock);
            timer.LastSendMs = now;
            timer.RetransmitMs = std::max(timer.RetransmitMs, TftpSettings.RetransmitMaxMs);
            continue;
        }
        const std::uint64_t wakeAt =
            std::min(endsAt, timer.LastSendMs + static_cast<std::uint64_t>(timer.RetransmitMs));
        plat::Ipv4Endpoint from{};
        const int received =
            ReceiveOnTftpPort(*context.Slot, area, &from, static_cast<int>(wakeAt - now));
        if (received == plat::kTimedOut) continue;
        if (received < 0) return;
        if (from == context.PeerAddress && received >= kTftpHeaderSize &&
            TftpGet16(area.data()) == TFTP_DATA &&
            TftpGet16(area.data() + 2) == static_cast<std::uint16_t>(context.DallyBlock)) {
            plat::Log("The last block came again: acknowledging it again.\n");
            SendTftpAck(context, context.DallyBlock);
            timer.LastSendMs = plat::MonotonicMs();
        }
    }
}

void EndTftpDally() {
    OwnerEndDallies();
}
