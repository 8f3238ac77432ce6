#include "tftp/tftp_peer_wait.h"

#include <algorithm>

#include "platform/log.h"
#include "platform/threads.h"
#include "tftp/tftp_packets.h"
#include "tftp/tftp_settings.h"

std::span<std::uint8_t> TransferReceiveArea(TftpContext& context) {
    if (context.Incoming.size() != kTftpReceiveArea) context.Incoming.assign(kTftpReceiveArea, 0);
    return context.Incoming;
}

void StartTftpTimer(TftpTransferTimer& timer) {
    timer.ProgressSinceMs = plat::MonotonicMs();
    timer.LastSendMs = timer.ProgressSinceMs;
    timer.RetransmitMs = std::max(1, TftpSettings.RetransmitInitialMs);
    timer.GiveUpMs = std::max(0, TftpSettings.TransferTimeoutMs);
    timer.SteadyRetransmitMs = 0;
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
        const std::uint64_t resendAt =
            timer.LastSendMs + static_cast<std::uint64_t>(timer.RetransmitMs);
        if (now >= resendAt) {
            timer.LastSendMs = now;
            if (timer.SteadyRetransmitMs > 0) {
                timer.RetransmitMs = timer.SteadyRetransmitMs;
            } else {
                // Doubles up to RetransmitMaxMs (never below where it started).
                const long long doubled = 2LL * timer.RetransmitMs;
                timer.RetransmitMs = static_cast<int>(std::max<long long>(
                    timer.RetransmitMs,
                    std::min<long long>(doubled, TftpSettings.RetransmitMaxMs)));
            }
            return PeerWait::Retransmit;
        }
        plat::Ipv4Endpoint from{};
        const int waitMs = static_cast<int>(std::min(giveUpAt, resendAt) - now);
        const int received = plat::SocketRecvFrom(context.Socket, buffer, &from, waitMs);
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
