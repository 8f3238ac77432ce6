// The read transfer: serves FileImage (through the DownloadConfig hook) to the requester in
// 512-byte lock-step blocks. Runs on the server thread.
#include <algorithm>
#include <string>

#include "platform/log.h"
#include "platform/threads.h"
#include "spine/events.h"
#include "spine/printable_text.h"
#include "spine/transfer_hooks.h"
#include "tftp/tftp_packets.h"
#include "tftp/tftp_peer_wait.h"
#include "tftp/tftp_server.h"
#include "tftp/tftp_settings.h"

namespace {

constexpr const char* kReadName = "ProcessTftpReadRequest";

// How long the last block waits for its ACK. A client that has the whole file sends that ACK
// and ends; when the ACK is lost nobody repeats it. A client still waiting for the block has
// been sent it several times over within this time. So the wait is shorter than a block's
// usual bound, and its end gets an outcome of its own: sent, but not known to have arrived.
constexpr int kLastAckWaitMs = 15000;

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
    if (ActiveTransferHooks().DownloadConfig(block, blockLength, blockNumber, kTftpBlockSize) == 0)
        return false;
    *blockLength = std::min<std::uint32_t>(*blockLength, kTftpBlockSize);
    return true;
}

}  // namespace

int ProcessTftpReadRequest(TftpContext& context, const std::uint8_t* request, int requestLength,
                           plat::Ipv4Endpoint peer) {
    if (ActiveTransferHooks().CheckFilename == nullptr) return 0;
    context.PeerAddress = peer;
    if (ActiveTransferHooks().CheckFilename(request + 2, request + requestLength, REQUEST_READ) == 0) {
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
        const bool lastBlock = blockLength != kTftpBlockSize;
        if (!SendDataPacket(context, data)) return 0;
        StartTftpTimer(context.Timer);
        if (lastBlock) {
            context.Timer.GiveUpMs = std::min(context.Timer.GiveUpMs, kLastAckWaitMs);
        }
        AckVerdict verdict = WaitForAck(context, blockNumber);
        while (verdict == AckVerdict::SendAgain) {
            if (!SendDataPacket(context, data)) return 0;
            verdict = WaitForAck(context, blockNumber);
        }
        if (verdict == AckVerdict::NoAnswer && lastBlock) {
            plat::Log("Every block was sent, but the last ACK never arrived.\n");
            context.Bytes += blockLength;
            context.Result = TftpRunResult::LastAckMissing;
            return 1;
        }
        if (verdict == AckVerdict::NoAnswer) RaiseError(ERR_RECEIVE);
        if (verdict != AckVerdict::Acknowledged) {
            plat::Log("%s:%d - Correct ACK not recieved...bailing out.\n", kReadName, 637);
            return 0;
        }
        context.Bytes += blockLength;
        if (lastBlock) {
            plat::Log("\n");
            context.Result = TftpRunResult::FileServed;
            return 1;
        }
        if (!FetchBlock(block, &blockLength, &blockNumber)) return 0;
    }
}

AckVerdict WaitForAck(TftpContext& context, std::uint32_t blockNumber) {
    const std::span<std::uint8_t> area = TransferReceiveArea(context);
    for (;;) {
        int length = 0;
        switch (WaitForPeerDatagram(context, area, &length)) {
            case PeerWait::Retransmit:
                plat::Log("No ACK for block-%u yet: sending it again.\n", blockNumber);
                return AckVerdict::SendAgain;
            case PeerWait::GiveUp:
                plat::Log("No ACK for block-%u within %d ms.\n", blockNumber,
                          context.Timer.GiveUpMs);
                context.Failure = "no ACK for block-" + std::to_string(blockNumber) + " within " +
                                  std::to_string(context.Timer.GiveUpMs) + " ms";
                return AckVerdict::NoAnswer;
            case PeerWait::Failed:
                context.Failure = "receive: " + plat::SocketErrorText(plat::LastSocketError());
                RaiseError(ERR_RECEIVE);
                plat::Log("Error in recvfrom() call [errno=%d]\n", plat::LastSocketError());
                return AckVerdict::Failed;
            case PeerWait::Datagram:
                break;
        }
        const std::uint16_t opcode = TftpGet16(area.data());
        const std::uint16_t field = TftpGet16(area.data() + 2);
        if (opcode == TFTP_ACK) {
            if (field == static_cast<std::uint16_t>(blockNumber)) return AckVerdict::Acknowledged;
            plat::Log("client returned *wrong* ACK\n .. got ACK for (%d), expected ACK for (%d)\n",
                      static_cast<int>(field), static_cast<int>(blockNumber));
            // The ACK of the block before, repeated by a client whose own timer ran out, says
            // that this block was lost: send it again at once, but only once per block, and
            // not when it comes too soon to be more than a duplicate's echo. Further repeats,
            // older ACKs and ACKs of blocks not yet sent are duplicates or strays: answering
            // each of them would multiply the packets in flight, so the timer alone decides.
            // Nothing waiting is discarded: the ACK of this very block may be among it.
            if (field == static_cast<std::uint16_t>(blockNumber - 1) &&
                !context.Timer.QuickResendUsed && !SoonAfterLastSend(context.Timer)) {
                plat::Log("We need to resend block-%d\n", static_cast<int>(blockNumber));
                context.Timer.QuickResendUsed = true;
                context.Timer.LastSendMs = plat::MonotonicMs();
                return AckVerdict::SendAgain;
            }
            plat::Log("Ignoring it.\n");
            continue;
        }
        if (opcode == TFTP_ERROR) {
            const std::string message(
                TftpErrorMessageOf(area.first(static_cast<std::size_t>(length))));
            plat::Log("client returned TFTP_ERROR (%s) \n", message.c_str());
            context.Failure =
                "the device sent the error \"" + PrintableText(message, kQuotedPeerTextLimit) + "\"";
            return AckVerdict::Failed;
        }
        // Neither ACK nor ERROR: not an answer to the block; keep waiting within the timers.
        plat::Log("Error: could not undestand opcode.\n");
    }
}
