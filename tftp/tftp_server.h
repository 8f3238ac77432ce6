// The TFTP server: one UDP socket on the configured port (69 by default), one thread per run,
// exactly one request per run.
//
// Contract: StartTftpServer and TftpPortAvailable run on the dialog's thread; everything else
// runs on the server thread. The server reaches the application only through TransferHooks.
// TftpServerRunning is written only here: 1 from the moment the thread's socket is open until
// every way out of the thread, the failure paths included.
#pragma once

#include <cstdint>

#include "platform/net.h"

inline constexpr int kTftpPacketSize = 516;
inline constexpr int kTftpBlockSize = 512;

enum TftpOpcode : std::uint16_t {
    TFTP_RRQ = 1,
    TFTP_WRQ = 2,
    TFTP_DATA = 3,
    TFTP_ACK = 4,
    TFTP_ERROR = 5,
};

// One per run of the thread; owned by the thread for the length of the run.
struct TftpContext {
    plat::SocketHandle Socket = plat::kNoSocket;
    std::int32_t PeerAddressLength = 16;
    plat::Ipv4Endpoint PeerAddress{};
    std::uint8_t Packet[kTftpPacketSize]{};
};

struct TftpErrorRow {
    std::int32_t Code;
    const char* Message;
};
// RFC 1350 error codes and texts, closed by a row with code -1.
extern const TftpErrorRow TftpErrorTable[];

int StartTftpServer(int ServeMode);
int TftpServerThread(int ServeMode);
// The server socket, bound to every local address (not bound while our own server runs), or
// plat::kNoSocket after the cause was reported.
plat::SocketHandle OpenTftpSocket();
int TftpPortAvailable();
void SendTftpError(TftpContext& context, int code);

int ProcessTftpReadRequest(TftpContext& context, const std::uint8_t* request, int requestLength,
                           plat::Ipv4Endpoint peer);
int WaitForAck(TftpContext& context, std::uint32_t blockNumber);
int DrainSocket(TftpContext& context);
int ProcessTftpWriteRequest(TftpContext& context, const std::uint8_t* request, int requestLength,
                            plat::Ipv4Endpoint peer);
