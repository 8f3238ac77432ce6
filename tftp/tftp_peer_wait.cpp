#include "tftp/tftp_peer_wait.h"

#include <algorithm>

#include "platform/log.h"
#include "platform/threads.h"
#include "tftp/tftp_port_owner.h"
#include "tftp/tftp_packets.h"
#include "tftp/tftp_settings.h"

std::span<std::uint8_t> TransferReceiveArea(TftpContext& context) {
    if (context.Incoming.size() != kTftpReceiveArea) context.Incoming.assign(kTftpReceiveArea, 0);
    return context.Incoming;
}

// The schedule. Each side of a lock-step transfer retransmits its own packet, and a repeat
// from us can harm as well as help: a client that restarts its own timer on every datagram it
// gets, and does not answer a repeat (tftp-hpa's client sending, atftp's receiving, at times),
// never retransmits while we repeat ourselves more often than its timer runs, so one lost packet
// stalls the transfer until it times out. The common clients' timer is 5 s; curl's is far
// longer, but it answers a repeat at once. So the packet goes out again once after
// RetransmitInitialMs (a peer that answers repeats, or whose packet was lost, goes on at once),
// and then only every RetransmitMaxMs (6 s), which leaves such a client the silence its own
// timer needs.
void StartTftpTimer(TftpTransferTimer& timer) {
    timer.ProgressSinceMs = plat::MonotonicMs();
    timer.LastSendMs = timer.ProgressSinceMs;
    timer.RetransmitMs = std::max(1, TftpSettings.RetransmitInitialMs);
    timer.GiveUpMs = std::max(0, TftpSettings.TransferTimeoutMs);
    timer.QuickResendUsed = false;
}

bool SoonAfterLastSend(const TftpTransferTimer& timer) {
    return plat::MonotonicMs() - timer.LastSendMs <
           static_cast<std::uint64_t>(std::max(0, TftpSettings.RetransmitInitialMs) / 4);
}

PeerWait WaitForPeerDatagram(TftpContext& context, std::span<std::uint8_t> buffer, int* length) {
    TftpTransferTimer& timer = context.Timer;
    for (;;) {
        const std::uint64_t now = plat::MonotonicMs();
        const std::uint64_t giveUpAt =
            timer.ProgressSinceMs + static_cast<std::uint64_t>(timer.GiveUpMs);
        if (now >= giveUpAt) return PeerWait::GiveUp;
        if (context.Slot != nullptr && context.Slot->EndNow) {
            plat::Log("The command no longer waits for this transfer: it ends here.\n");
            return PeerWait::GiveUp;
        }
        const std::uint64_t resendAt =
            timer.LastSendMs + static_cast<std::uint64_t>(timer.RetransmitMs);
        if (now >= resendAt) {
            timer.LastSendMs = now;
            timer.RetransmitMs = std::max(timer.RetransmitMs, TftpSettings.RetransmitMaxMs);
            return PeerWait::Retransmit;
        }
        plat::Ipv4Endpoint from{};
        const int waitMs = static_cast<int>(std::min(giveUpAt, resendAt) - now);
        const int received = ReceiveOnTftpPort(*context.Slot, buffer, &from, waitMs);
        if (received == plat::kTimedOut) continue;
        if (received < 0) return PeerWait::Failed;
        if (!(from == context.PeerAddress)) {
            plat::Log("Ignoring a datagram from %s:%u, which is not the requester.\n",
                      plat::FormatIpv4(from.address).c_str(), static_cast<unsigned>(from.port));
            SendTftpErrorTo(context.Socket, from, TFTP_ERR_UNKNOWN_TID);
            continue;
        }
        if (received < kTftpHeaderSize || received > kTftpPacketSize) {
            plat::Log("Ignoring a malformed datagram of %d bytes.\n", received);
            continue;
        }
        *length = received;
        return PeerWait::Datagram;
    }
}
