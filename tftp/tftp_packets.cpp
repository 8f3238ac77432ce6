#include "tftp/tftp_packets.h"

#include <algorithm>
#include <cstring>

#include "platform/log.h"
#include "tftp/tftp_server.h"

const TftpErrorRow TftpErrorTable[] = {
    {TFTP_ERR_UNDEFINED, "Undefined error code"},
    {TFTP_ERR_FILE_NOT_FOUND, "File not found"},
    {TFTP_ERR_ACCESS_VIOLATION, "Access violation"},
    {TFTP_ERR_DISK_FULL, "Disk full or allocation exceeded"},
    {TFTP_ERR_ILLEGAL_OPERATION, "Illegal TFTP operation"},
    {TFTP_ERR_UNKNOWN_TID, "Unknown transfer ID"},
    {TFTP_ERR_FILE_EXISTS, "File already exists"},
    {TFTP_ERR_NO_SUCH_USER, "No such user"},
    {-1, nullptr},
};

std::uint16_t TftpGet16(const std::uint8_t* bytes) {
    return static_cast<std::uint16_t>((bytes[0] << 8) | bytes[1]);
}

void TftpPut16(std::uint8_t* bytes, std::uint16_t value) {
    bytes[0] = static_cast<std::uint8_t>(value >> 8);
    bytes[1] = static_cast<std::uint8_t>(value & 0xff);
}

int BuildTftpAck(std::span<std::uint8_t, 4> packet, std::uint16_t block) {
    TftpPut16(packet.data(), TFTP_ACK);
    TftpPut16(packet.data() + 2, block);
    return 4;
}

int BuildTftpData(std::span<std::uint8_t> packet, std::uint16_t block,
                  std::span<const std::uint8_t> data) {
    TftpPut16(packet.data(), TFTP_DATA);
    TftpPut16(packet.data() + 2, block);
    std::copy(data.begin(), data.end(), packet.begin() + kTftpHeaderSize);
    return kTftpHeaderSize + static_cast<int>(data.size());
}

const char* TftpErrorText(int code) {
    for (const TftpErrorRow* row = TftpErrorTable; row->Code >= 0; ++row)
        if (row->Code == code) return row->Message;
    return TftpErrorTable[0].Message;
}

int BuildTftpError(std::span<std::uint8_t> packet, int code) {
    std::fill(packet.begin(), packet.end(), std::uint8_t{0});
    TftpPut16(packet.data(), TFTP_ERROR);
    TftpPut16(packet.data() + 2, static_cast<std::uint16_t>(code));
    const char* text = TftpErrorText(code);
    const std::size_t length = std::strlen(text);
    std::memcpy(packet.data() + kTftpHeaderSize, text, length);
    return kTftpHeaderSize + static_cast<int>(length) + 1;
}

void SendTftpErrorTo(plat::SocketHandle socket, plat::Ipv4Endpoint to, int code) {
    std::uint8_t packet[kTftpPacketSize];
    const int length = BuildTftpError(packet, code);
    const int sent = plat::SocketSendTo(
        socket, std::span<const std::uint8_t>(packet, static_cast<std::size_t>(length)), to);
    if (sent != length) plat::Log("ERROR: nak errno=%d.", plat::LastSocketError());
}

void SendTftpAck(TftpContext& context, std::uint32_t block) {
    std::uint8_t ack[4];
    BuildTftpAck(ack, static_cast<std::uint16_t>(block));
    if (plat::SocketSendTo(context.Socket, ack, context.PeerAddress) != 4)
        plat::Log("ERROR: tftpd sendto() error [ACK].");
}

void SendTftpError(TftpContext& context, int code) {
    SendTftpErrorTo(context.Socket, context.PeerAddress, code);
}

int TftpRefusalCode(std::span<const std::uint8_t> request) {
    if (request.size() < 2) return TFTP_ERR_ILLEGAL_OPERATION;
    const TftpRequestText text = ParseTftpRequest(request.subspan(2));
    return text.wellFormed && text.mode == "octet" ? TFTP_ERR_FILE_NOT_FOUND
                                                   : TFTP_ERR_ILLEGAL_OPERATION;
}

void RefuseTftpRequest(TftpContext& context, const std::uint8_t* request, int requestLength) {
    const int code = TftpRefusalCode(
        std::span<const std::uint8_t>(request, static_cast<std::size_t>(requestLength)));
    SendTftpError(context, code);
    plat::Log("Refused the request: answered ERROR %d (%s).\n", code, TftpErrorText(code));
    context.Result = TftpRunResult::Refused;
}

TftpRequestText ParseTftpRequest(std::span<const std::uint8_t> body) {
    TftpRequestText text;
    const auto nameEnd = std::find(body.begin(), body.end(), std::uint8_t{0});
    if (nameEnd == body.end()) return text;
    const auto modeEnd = std::find(nameEnd + 1, body.end(), std::uint8_t{0});
    if (modeEnd == body.end()) return text;
    const auto view = [](auto from, auto to) {
        return std::string_view(reinterpret_cast<const char*>(&*from),
                                static_cast<std::size_t>(to - from));
    };
    text.name = view(body.begin(), nameEnd);
    text.mode = view(nameEnd + 1, modeEnd);
    text.wellFormed = true;
    return text;
}

std::string_view TftpErrorMessageOf(std::span<const std::uint8_t> packet) {
    if (packet.size() <= static_cast<std::size_t>(kTftpHeaderSize)) return {};
    const auto body = packet.subspan(kTftpHeaderSize);
    const auto end = std::find(body.begin(), body.end(), std::uint8_t{0});
    return std::string_view(reinterpret_cast<const char*>(body.data()),
                            static_cast<std::size_t>(end - body.begin()));
}
