// Any datagram through the TFTP wire-format helpers: the request and error-message parsers stay
// inside the datagram and cut at the right zero bytes, and what the builders write reads back.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

#include "tests/fuzz/fuzz_check.h"
#include "tftp/tftp_packets.h"
#include "tftp/tftp_server.h"

namespace {

bool Inside(std::string_view text, std::span<const std::uint8_t> bytes) {
    const auto* begin = reinterpret_cast<const char*>(bytes.data());
    return text.empty() ||
           (text.data() >= begin && text.data() + text.size() <= begin + bytes.size());
}

bool HasZero(std::string_view text) {
    return text.find('\0') != std::string_view::npos;
}

void CheckRequest(std::span<const std::uint8_t> body) {
    const TftpRequestText request = ParseTftpRequest(body);
    const auto zeros = std::count(body.begin(), body.end(), std::uint8_t{0});
    FUZZ_CHECK(request.wellFormed == (zeros >= 2));
    if (!request.wellFormed) return;
    FUZZ_CHECK(Inside(request.name, body) && Inside(request.mode, body));
    FUZZ_CHECK(!HasZero(request.name) && !HasZero(request.mode));
    // name, zero, mode, zero: the first two zero bytes of the body.
    const std::size_t nameEnd = request.name.size();
    const std::size_t modeEnd = nameEnd + 1 + request.mode.size();
    FUZZ_CHECK(modeEnd < body.size() && body[nameEnd] == 0 && body[modeEnd] == 0);
    FUZZ_CHECK(std::memcmp(request.mode.data(), body.data() + nameEnd + 1, request.mode.size()) ==
               0);
}

void CheckErrorMessage(std::span<const std::uint8_t> datagram) {
    const std::string_view message = TftpErrorMessageOf(datagram);
    FUZZ_CHECK(Inside(message, datagram) && !HasZero(message));
    if (datagram.size() <= kTftpHeaderSize) {
        FUZZ_CHECK(message.empty());
        return;
    }
    const std::size_t end = kTftpHeaderSize + message.size();
    FUZZ_CHECK(end == datagram.size() || datagram[end] == 0);
    FUZZ_CHECK(std::memcmp(message.data(), datagram.data() + kTftpHeaderSize, message.size()) == 0);
}

void CheckBuilders(std::span<const std::uint8_t> datagram) {
    const std::uint16_t block = datagram.size() >= 2 ? TftpGet16(datagram.data()) : 0;

    std::array<std::uint8_t, 4> ack{};
    FUZZ_CHECK(BuildTftpAck(ack, block) == 4);
    FUZZ_CHECK(TftpGet16(ack.data()) == TFTP_ACK && TftpGet16(ack.data() + 2) == block);

    std::array<std::uint8_t, kTftpPacketSize> packet{};
    const auto payload = datagram.first(std::min<std::size_t>(datagram.size(), kTftpBlockSize));
    const int length = BuildTftpData(packet, block, payload);
    FUZZ_CHECK(length == kTftpHeaderSize + static_cast<int>(payload.size()));
    FUZZ_CHECK(TftpGet16(packet.data()) == TFTP_DATA && TftpGet16(packet.data() + 2) == block);
    FUZZ_CHECK(std::equal(payload.begin(), payload.end(), packet.begin() + kTftpHeaderSize));

    const int code = datagram.empty() ? 0 : static_cast<int>(datagram[0]) - 8;
    const int errorLength = BuildTftpError(packet, code);
    FUZZ_CHECK(errorLength > kTftpHeaderSize && errorLength <= kTftpPacketSize);
    FUZZ_CHECK(TftpGet16(packet.data()) == TFTP_ERROR);
    FUZZ_CHECK(TftpGet16(packet.data() + 2) == static_cast<std::uint16_t>(code));
    const auto sent =
        std::span<const std::uint8_t>(packet).first(static_cast<std::size_t>(errorLength));
    FUZZ_CHECK(TftpErrorMessageOf(sent) == TftpErrorText(code));
    FUZZ_CHECK(packet[static_cast<std::size_t>(errorLength) - 1] == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> datagram(data, size);
    if (size >= 2) CheckRequest(datagram.subspan(2));
    CheckErrorMessage(datagram);
    CheckBuilders(datagram);
    return 0;
}
