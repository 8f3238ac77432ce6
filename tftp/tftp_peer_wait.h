// The bounded wait of a transfer for its peer's next datagram, shared by the read and the write
// transfer. Runs on the thread that serves the transfer.
#pragma once

#include <cstdint>
#include <span>

#include "tftp/tftp_server.h"

// Receive area of a transfer: large enough for any UDP datagram, so that an oversized one can be
// recognised and ignored instead of failing the receive.
inline constexpr std::size_t kTftpReceiveArea = 65536;

enum class PeerWait {
    Datagram,    // *length bytes (4 to 516) from the requester are in the buffer
    Retransmit,  // the retransmission time-out passed: send the packet in flight again
    GiveUp,      // the packet in flight made no progress for the timer's GiveUpMs
    Failed,      // the receive failed; plat::LastSocketError() tells why
};

// The context's receive area (kTftpReceiveArea bytes).
std::span<std::uint8_t> TransferReceiveArea(TftpContext& context);

// The packet in flight has just been sent for the first time: both clocks start now, with the
// first retransmission time-out and TransferTimeoutMs as the bound on its progress.
void StartTftpTimer(TftpTransferTimer& timer);

// True while less than a quarter of the first retransmission time-out has passed since the
// packet in flight was last sent. A peer that repeats itself so soon has not timed out: the
// repeat is a duplicate made on the way (or the echo of one of ours), not news of a loss, and
// answering it would multiply the packets in flight.
bool SoonAfterLastSend(const TftpTransferTimer& timer);

// Waits within context.Timer for a datagram from context.PeerAddress, on the transfer's port slot
// (tftp_port_owner.h). A datagram from any other address or port is answered with ERROR 5 and
// ignored (while the port's reader hands the transfer only its peer's, this is the last line of
// defence); one shorter than 4 or longer than 516 bytes is ignored. On Retransmit the timer has already taken the new send time and the doubled
// time-out; the caller sends its packet again.
PeerWait WaitForPeerDatagram(TftpContext& context, std::span<std::uint8_t> buffer, int* length);
