// Wire format of TFTP packets: 16-bit fields in network byte order, packet building, the error
// table and request parsing. Pure byte work, no state; used on the server thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "platform/net.h"

std::uint16_t TftpGet16(const std::uint8_t* bytes);
void TftpPut16(std::uint8_t* bytes, std::uint16_t value);

// Each builder writes into `packet` and returns the packet's length.
int BuildTftpAck(std::span<std::uint8_t, 4> packet, std::uint16_t block);
// `packet` holds at least 4 + data.size() bytes.
int BuildTftpData(std::span<std::uint8_t> packet, std::uint16_t block,
                  std::span<const std::uint8_t> data);
// `packet` holds at least 516 bytes. A code missing from the table goes out with the text of
// code 0.
int BuildTftpError(std::span<std::uint8_t> packet, int code);
const char* TftpErrorText(int code);

// Sends an ERROR packet to `to`; logs "ERROR: nak errno=%d." when the send fails or is short.
void SendTftpErrorTo(plat::SocketHandle socket, plat::Ipv4Endpoint to, int code);

struct TftpContext;
// Sends ACK `block` (its low 16 bits) to the context's peer; logs
// "ERROR: tftpd sendto() error [ACK]." when the send fails or is short.
void SendTftpAck(TftpContext& context, std::uint32_t block);
// Answers a request that CheckFilename refused: ERROR 1 when it is well formed in mode "octet"
// (so only the name is wrong), ERROR 4 otherwise. Sets context.Result to Refused.
// The ERROR code for a request that CheckFilename refused (the whole request, opcode included).
int TftpRefusalCode(std::span<const std::uint8_t> request);
void RefuseTftpRequest(TftpContext& context, const std::uint8_t* request, int requestLength);

// The body of an RRQ/WRQ (the bytes after the opcode): file name and mode, each ending in a
// zero byte. wellFormed is false when either zero is missing.
struct TftpRequestText {
    bool wellFormed = false;
    std::string_view name;
    std::string_view mode;
};
TftpRequestText ParseTftpRequest(std::span<const std::uint8_t> body);

// The message of a received ERROR packet (from byte 4 up to its zero or the datagram's end).
std::string_view TftpErrorMessageOf(std::span<const std::uint8_t> packet);

// How much of a peer's text (an ERROR message, a requested file name) a failure's cause quotes.
constexpr std::size_t kQuotedPeerTextLimit = 100;
