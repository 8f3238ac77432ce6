// The TFTP server: one UDP socket on the configured port (69 by default), one thread per run,
// exactly one request per run.
//
// Contract: StartTftpServer and TftpPortAvailable run on the dialog's thread; everything else
// runs on the server thread. The server reaches the application only through TransferHooks.
// TftpServerRunning is written only here: 1 from the moment the thread's socket is open until
// every way out of the thread, the failure paths included.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/net.h"
#include "tftp/tftp_outcome.h"

inline constexpr int kTftpPacketSize = 516;
inline constexpr int kTftpBlockSize = 512;
inline constexpr int kTftpHeaderSize = 4;

enum TftpOpcode : std::uint16_t {
    TFTP_RRQ = 1,
    TFTP_WRQ = 2,
    TFTP_DATA = 3,
    TFTP_ACK = 4,
    TFTP_ERROR = 5,
};

// The two clocks of the packet a transfer has in flight (a DATA block, or the last ACK).
// Retransmission runs from the last scheduled send of that packet, doubling after each
// time-out; the transfer gives up when the packet has made no progress for TransferTimeoutMs.
// Datagrams that arrive meanwhile (strays, duplicates, foreign ones) move neither clock.
struct TftpTransferTimer {
    std::uint64_t ProgressSinceMs = 0;  // first send of the current packet
    std::uint64_t LastSendMs = 0;       // last send on the retransmission schedule
    int RetransmitMs = 0;               // current retransmission time-out
};

// One per run of the thread; owned by the thread for the length of the run.
struct TftpContext {
    plat::SocketHandle Socket = plat::kNoSocket;
    std::int32_t PeerAddressLength = 16;
    plat::Ipv4Endpoint PeerAddress{};
    std::uint8_t Packet[kTftpPacketSize]{};
    TftpTransferTimer Timer{};
    std::vector<std::uint8_t> Incoming;  // receive area of the transfer, sized on first use
    // Set by the transfer handlers for the run's outcome record.
    TftpRunResult Result = TftpRunResult::Failed;
    std::uint64_t Bytes = 0;  // image bytes served, or bytes stored after conversion
};

struct TftpErrorRow {
    std::int32_t Code;
    const char* Message;
};
// RFC 1350 error codes and texts, closed by a row with code -1.
extern const TftpErrorRow TftpErrorTable[];

// Starts the server thread; always 1 (a thread that cannot be created leaves the flag at 0).
int StartTftpServer(int ServeMode);
// The thread body: 1 after a normal end, 0 after a failure end.
int TftpServerThread(int ServeMode);
// The server socket, bound to every local address (not bound while our own server runs), or
// plat::kNoSocket after the cause was reported. A returned socket holds one NetStartup.
plat::SocketHandle OpenTftpSocket();
int TftpPortAvailable();
// ERROR packet with `code` and its table text to the context's peer.
void SendTftpError(TftpContext& context, int code);

// The transfer handlers return 1 when the transfer completed, and also when the request was
// refused with an ERROR packet (context.Result is then Refused); 0 when it failed.
int ProcessTftpReadRequest(TftpContext& context, const std::uint8_t* request, int requestLength,
                           plat::Ipv4Endpoint peer);
// 1 block acknowledged; 2 send the block again (ACK of the block before, or a retransmission
// time-out); 0 failure (peer ERROR, wrong ACK, receive failure, no progress in time).
int WaitForAck(TftpContext& context, std::uint32_t blockNumber);
// Discards the datagrams already waiting; bytes discarded, or -1 when a receive fails.
int DrainSocket(TftpContext& context);
int ProcessTftpWriteRequest(TftpContext& context, const std::uint8_t* request, int requestLength,
                            plat::Ipv4Endpoint peer);
