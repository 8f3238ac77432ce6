// The write transfer: takes the requester's DATA blocks strictly in order, converts every line
// feed into carriage return + line feed, and hands each block to the UploadConfig hook before it
// is acknowledged. Runs on the server thread.
#include <cstring>
#include <string>

#include "platform/log.h"
#include "platform/threads.h"
#include "spine/printable_text.h"
#include "spine/transfer_hooks.h"
#include "tftp/tftp_packets.h"
#include "tftp/tftp_peer_wait.h"
#include "tftp/tftp_server.h"
#include "tftp/tftp_settings.h"

namespace {

// Every line feed gets a carriage return in front; nothing is carried from block to block.
// The text between line feeds is copied a line at a time.
int ConvertLineEnds(std::span<const std::uint8_t> data, std::uint8_t* converted) {
    std::uint8_t* out = converted;
    const std::uint8_t* from = data.data();
    const std::uint8_t* const end = from + data.size();
    while (from < end) {
        const void* found = std::memchr(from, '\n', static_cast<std::size_t>(end - from));
        const std::uint8_t* const lineEnd =
            found != nullptr ? static_cast<const std::uint8_t*>(found) : end;
        const auto length = static_cast<std::size_t>(lineEnd - from);
        std::memcpy(out, from, length);
        out += length;
        from = lineEnd;
        if (from == end) break;
        *out++ = '\r';
        *out++ = '\n';
        ++from;
    }
    return static_cast<int>(out - converted);
}

// Ends a failed transfer: a partly stored text is abandoned (the previous target stays as it
// was), the peer gets an ERROR packet, and the diagnostic line begun by the caller is ended.
int FailWrite(TftpContext& context, bool handedOn, TftpErrorCode errorCode) {
    if (handedOn) {
        std::uint32_t written = 0;
        ActiveTransferHooks().UploadConfig(nullptr, 0, &written, 0, 0);
    }
    SendTftpError(context, errorCode);
    plat::Log("\n");
    if (context.Result != TftpRunResult::StoreFailed) context.Result = TftpRunResult::Failed;
    return 0;
}

}  // namespace

int ProcessTftpWriteRequest(TftpContext& context, const std::uint8_t* request, int requestLength,
                            plat::Ipv4Endpoint peer) {
    context.PeerAddress = peer;
    if (ActiveTransferHooks().CheckFilename == nullptr) {
        SendTftpError(context, TFTP_ERR_ACCESS_VIOLATION);
        context.Result = TftpRunResult::Refused;
        return 1;
    }
    if (ActiveTransferHooks().CheckFilename(request + 2, request + requestLength, REQUEST_WRITE) == 0) {
        RefuseTftpRequest(context, request, requestLength);
        return 1;
    }

    const std::span<std::uint8_t> area = TransferReceiveArea(context);
    std::uint32_t lastAcked = 0;
    bool handedOn = false;
    SendTftpAck(context, lastAcked);
    StartTftpTimer(context.Timer);
    for (;;) {
        int length = 0;
        const PeerWait wait = WaitForPeerDatagram(context, area, &length);
        if (wait == PeerWait::Retransmit) {
            SendTftpAck(context, lastAcked);
            continue;
        }
        if (wait == PeerWait::GiveUp) {
            plat::Log("ERROR: tftpd got no DATA block-%u within %d ms.", lastAcked + 1,
                      TftpSettings.TransferTimeoutMs);
            context.Failure = "no DATA block-" + std::to_string(lastAcked + 1) + " within " +
                              std::to_string(TftpSettings.TransferTimeoutMs) + " ms";
            return FailWrite(context, handedOn, TFTP_ERR_ACCESS_VIOLATION);
        }
        if (wait == PeerWait::Failed) {
            context.Failure = "receive: " + plat::SocketErrorText(plat::LastSocketError());
            plat::Log("ERROR: tftpd recvfrom() error.");
            return FailWrite(context, handedOn, TFTP_ERR_ACCESS_VIOLATION);
        }

        const std::uint16_t opcode = TftpGet16(area.data());
        const std::uint16_t block = TftpGet16(area.data() + 2);
        if (opcode == TFTP_ERROR) {
            context.Failure = "the device sent the error \"" +
                              PrintableText(TftpErrorMessageOf(
                                                area.first(static_cast<std::size_t>(length))),
                                            kQuotedPeerTextLimit) +
                              "\"";
            plat::Log("ERROR: tftpd data error.");
            return FailWrite(context, handedOn, TFTP_ERR_ACCESS_VIOLATION);
        }
        // A repeat answered at once is a send like any other: the next repeat on the schedule
        // runs from it.
        if (opcode == TFTP_WRQ) {  // the requester did not hear ACK 0 (or the last ACK)
            if (!SoonAfterLastSend(context.Timer)) {
                SendTftpAck(context, lastAcked);
                context.Timer.LastSendMs = plat::MonotonicMs();
            }
            continue;
        }
        if (opcode != TFTP_DATA || block != lastAcked + 1) {
            plat::Log("Out of sync\n");
            // The block we acknowledged last came again: our ACK was lost, so repeat it;
            // unless the block came too soon to be more than a duplicate. A client that sends
            // DATA again for every repeated ACK would otherwise turn one duplicate into two
            // of every later block, and so on, until it gives up.
            if (opcode == TFTP_DATA && lastAcked != 0 && block == lastAcked &&
                !SoonAfterLastSend(context.Timer)) {
                SendTftpAck(context, lastAcked);
                context.Timer.LastSendMs = plat::MonotonicMs();
            }
            continue;
        }

        const std::uint32_t blockNumber = lastAcked + 1;
        std::uint8_t converted[2 * kTftpBlockSize];
        const int count = ConvertLineEnds(
            area.subspan(kTftpHeaderSize, static_cast<std::size_t>(length - kTftpHeaderSize)),
            converted);
        std::uint32_t written = 0;
        handedOn = true;
        if (ActiveTransferHooks().UploadConfig(converted, count, &written, length,
                                       static_cast<int>(blockNumber)) == 0) {
            plat::Log("ERROR: tftpd could not store block-%u.", blockNumber);
            context.Result = TftpRunResult::StoreFailed;
            return FailWrite(context, handedOn, TFTP_ERR_DISK_FULL);
        }
        context.Bytes += static_cast<std::uint64_t>(count);
        if (length == kTftpPacketSize) {
            lastAcked = blockNumber;
            SendTftpAck(context, lastAcked);
            StartTftpTimer(context.Timer);
            continue;
        }
        plat::Log("\nRecieved the last packet\n");
        SendTftpAck(context, blockNumber);
        plat::Log("\n");
        context.Result = TftpRunResult::FileStored;
        context.DallyBlock = blockNumber;
        return 1;
    }
}
