// The TFTP server: one UDP socket on the configured port (69 by default) and one run thread
// that holds it while any booking waits for its device's request or any transfer runs
// (tftp_booking.h). Every transfer is a booking's: the single-device commands' as much as those
// of commands that run side by side; each runs on a thread of its own, bound to its device's
// address and port. The port's owner (tftp_port_owner.h) keeps the state of all of it.
//
// Contract: StartTftpServer and TftpPortAvailable run on the command's thread; the transfer
// handlers run on the thread that serves the request. The server reaches the application only
// through the thread's transfer hooks (ActiveTransferHooks). TftpServerRunning is written only
// by the run thread: 1 from the moment the run's socket attempt has returned until the run ends,
// on every way out of the thread, the failure paths included.
#pragma once

#include <cstdint>
#include <string>
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

// Error codes of ERROR packets, one per row of TftpErrorTable.
enum TftpErrorCode : std::int32_t {
    TFTP_ERR_UNDEFINED = 0,
    TFTP_ERR_FILE_NOT_FOUND = 1,
    TFTP_ERR_ACCESS_VIOLATION = 2,
    TFTP_ERR_DISK_FULL = 3,
    TFTP_ERR_ILLEGAL_OPERATION = 4,
    TFTP_ERR_UNKNOWN_TID = 5,
    TFTP_ERR_FILE_EXISTS = 6,
    TFTP_ERR_NO_SUCH_USER = 7,
};

// The two clocks of the packet a transfer has in flight (a DATA block, or the last ACK).
// Retransmission runs from the last send of that packet: RetransmitInitialMs for the first
// re-send, RetransmitMaxMs for every later one (tftp_peer_wait.cpp says why); the transfer gives up when the packet has made no progress for GiveUpMs
// (TransferTimeoutMs unless the transfer shortens it). Datagrams that arrive meanwhile (strays,
// duplicates, foreign ones) move neither clock; a send outside the schedule (the quick re-send of
// a read, a write's answer to a repeated block) moves LastSendMs: the next time-out runs from it.
struct TftpTransferTimer {
    std::uint64_t ProgressSinceMs = 0;  // first send of the current packet
    std::uint64_t LastSendMs = 0;       // last send of the packet
    int RetransmitMs = 0;               // current retransmission time-out
    int GiveUpMs = 0;                   // no progress for this long ends the transfer
    bool QuickResendUsed = false;       // a read's block went out again on the ACK before it
};

struct TftpPortSlot;

// One per transfer; owned by the thread that serves it.
struct TftpContext {
    plat::SocketHandle Socket = plat::kNoSocket;
    TftpPortSlot* Slot = nullptr;  // where the transfer's datagrams arrive (tftp_port_owner.h)
    plat::Ipv4Endpoint PeerAddress{};
    std::uint8_t Packet[kTftpPacketSize]{};
    TftpTransferTimer Timer{};
    std::vector<std::uint8_t> Incoming;  // receive area of the transfer, sized on first use
    // Set by the transfer handlers for the run's outcome record.
    TftpRunResult Result = TftpRunResult::Failed;
    std::uint64_t Bytes = 0;  // image bytes served, or bytes stored after conversion
    // Why a started transfer failed, in words for its command ("no DATA block-3 within
    // 1500 ms"); empty otherwise.
    std::string Failure;
    // Set by a write that stored its text: its last block, acknowledged again during the
    // dally if the peer repeats it (tftp_dally.h). 0: no dally.
    std::uint32_t DallyBlock = 0;
};

struct TftpErrorRow {
    std::int32_t Code;
    const char* Message;
};
// RFC 1350 error codes (TftpErrorCode) and texts, closed by a row with code -1.
extern const TftpErrorRow TftpErrorTable[];

// The ServeMode the utility uses. A run started while no booking waits books its own request
// from DeviceAddress, with the registered hooks, for FirstRequestTimeoutMs.
inline constexpr int kServeOneRequest = 2;
// Starts the server thread; always 1 (a thread that cannot be created leaves the flag at 0).
int StartTftpServer(int ServeMode);
// The thread body: 1 after a normal end, 0 after a failure end.
int TftpServerThread(int ServeMode);
// Serves the request in context.Packet (length bytes) from context.PeerAddress with the
// thread's hooks. True for a normal end (the request was served or refused).
bool ServeTftpRequest(TftpContext& context, int length);
// The server socket, bound to every local address (not bound while our own server runs), or
// plat::kNoSocket after the cause was reported. A returned socket holds one NetStartup.
plat::SocketHandle OpenTftpSocket();
int TftpPortAvailable();
// ERROR packet with `code` (a TftpErrorCode) and its table text to the context's peer.
void SendTftpError(TftpContext& context, int code);

// The transfer handlers return 1 when the transfer completed, and also when the request was
// refused with an ERROR packet (context.Result is then Refused); 0 when it failed. A read whose
// every block went out but whose last ACK never came also returns 1, with context.Result
// LastAckMissing: the device may well have the whole file, and nothing more can be learnt.
int ProcessTftpReadRequest(TftpContext& context, const std::uint8_t* request, int requestLength,
                           plat::Ipv4Endpoint peer);

// WaitForAck's verdict on the block in flight.
enum class AckVerdict {
    Failed = 0,        // peer ERROR or a failed receive
    Acknowledged = 1,  // the block's ACK came
    SendAgain = 2,     // first ACK of the block before, or a retransmission time-out
    NoAnswer = 3,      // no progress within the timer's GiveUpMs (logged, not yet reported)
};
// ACKs of older blocks, of blocks not yet sent and every further ACK of the block before are
// ignored: the retransmission timer alone decides when the block goes out again.
AckVerdict WaitForAck(TftpContext& context, std::uint32_t blockNumber);
int ProcessTftpWriteRequest(TftpContext& context, const std::uint8_t* request, int requestLength,
                            plat::Ipv4Endpoint peer);
