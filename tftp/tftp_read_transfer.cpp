// The read transfer: serves FileImage (through the DownloadConfig hook) to the requester in
// 512-byte lock-step blocks. Runs on the server thread.
#include <algorithm>
#include <string>

#include "platform/log.h"
#include "spine/events.h"
#include "spine/transfer_hooks.h"
#include "tftp/tftp_packets.h"
#include "tftp/tftp_peer_wait.h"
#include "tftp/tftp_server.h"
#include "tftp/tftp_settings.h"

namespace {

constexpr const char* kReadName = "ProcessTftpReadRequest";

bool SendDataPacket(TftpContext& context, std::span<const std::uint8_t> packet) {
    if (plat::SocketSendTo(context.Socket, packet, context.PeerAddress) ==
        static_cast<int>(packet.size()))
        return true;
    RaiseError(ERR_SEND);
    plat::Log("%s:%d - error in sendto() call.\n", kReadName, 629);
    plat::Log("Error in sendto() call [errno=%d]\n", plat::LastSocketError());
    return false;
}

bool FetchBlock(std::uint8_t* block, std::uint32_t* blockLength, std::uint32_t* blockNumber) {
    if (TransferHooks.DownloadConfig(block, blockLength, blockNumber, kTftpBlockSize) == 0)
        return false;
    *blockLength = std::min<std::uint32_t>(*blockLength, kTftpBlockSize);
    return true;
}

}  // namespace

int ProcessTftpReadRequest(TftpContext& context, const std::uint8_t* request, int requestLength,
                           plat::Ipv4Endpoint peer) {
    if (TransferHooks.CheckFilename == nullptr) return 0;
    context.PeerAddress = peer;
    if (TransferHooks.CheckFilename(request + 2, request + requestLength, 1) == 0) {
        RefuseTftpRequest(context, request, requestLength);
        return 1;
    }

    std::uint8_t block[kTftpBlockSize]{};
    std::uint32_t blockLength = 0;
    std::uint32_t blockNumber = 0;
    if (!FetchBlock(block, &blockLength, &blockNumber)) return 0;

    std::uint8_t packet[kTftpPacketSize];
    for (;;) {
        const int packetLength = BuildTftpData(packet, static_cast<std::uint16_t>(blockNumber),
                                               std::span<const std::uint8_t>(block, blockLength));
        const std::span<const std::uint8_t> data(packet, static_cast<std::size_t>(packetLength));
        if (!SendDataPacket(context, data)) return 0;
        StartTftpTimer(context.Timer);
        int verdict = WaitForAck(context, blockNumber);
        while (verdict == 2) {
            if (!SendDataPacket(context, data)) return 0;
            verdict = WaitForAck(context, blockNumber);
        }
        if (verdict == 0) {
            plat::Log("%s:%d - Correct ACK not recieved...bailing out.\n", kReadName, 637);
            return 0;
        }
        context.Bytes += blockLength;
        if (blockLength != kTftpBlockSize) {
            plat::Log("\n");
            context.Result = TftpRunResult::FileServed;
            return 1;
        }
        if (!FetchBlock(block, &blockLength, &blockNumber)) return 0;
    }
}

int WaitForAck(TftpContext& context, std::uint32_t blockNumber) {
    const std::span<std::uint8_t> area = TransferReceiveArea(context);
    for (;;) {
        int length = 0;
        switch (WaitForPeerDatagram(context, area, &length)) {
            case PeerWait::Retransmit:
                plat::Log("No ACK for block-%u yet: sending it again.\n", blockNumber);
                return 2;
            case PeerWait::GiveUp:
                RaiseError(ERR_RECEIVE);
                plat::Log("No ACK for block-%u within %d ms.\n", blockNumber,
                          TftpSettings.TransferTimeoutMs);
                return 0;
            case PeerWait::Failed:
                RaiseError(ERR_RECEIVE);
                plat::Log("Error in recvfrom() call [errno=%d]\n", plat::LastSocketError());
                return 0;
            case PeerWait::Datagram:
                break;
        }
        const std::uint16_t opcode = TftpGet16(area.data());
        const std::uint16_t field = TftpGet16(area.data() + 2);
        if (opcode == TFTP_ACK) {
            if (field == blockNumber) return 1;
            plat::Log("client returned *wrong* ACK\n .. got ACK for (%d), expected ACK for (%d)\n",
                      static_cast<int>(field), static_cast<int>(blockNumber));
            DrainSocket(context);
            if (field == blockNumber - 1) {
                plat::Log("We need to resend block-%d\n", static_cast<int>(blockNumber));
                return 2;
            }
            return 0;
        }
        if (opcode == TFTP_ERROR) {
            const std::string message(
                TftpErrorMessageOf(area.first(static_cast<std::size_t>(length))));
            plat::Log("client returned TFTP_ERROR (%s) \n", message.c_str());
            return 0;
        }
        // Neither ACK nor ERROR: not an answer to the block; keep waiting within the timers.
        plat::Log("Error: could not undestand opcode.\n");
    }
}

int DrainSocket(TftpContext& context) {
    const std::span<std::uint8_t> area = TransferReceiveArea(context);
    int total = 0;
    while (plat::SocketPending(context.Socket) > 0) {
        plat::Ipv4Endpoint from{};
        const int received = plat::SocketRecvFrom(context.Socket, area, &from, 0);
        if (received == plat::kTimedOut) break;
        if (received < 0) {
            RaiseError(ERR_RECEIVE);
            return -1;
        }
        total += received;
    }
    return total;
}
