// ProbeServerType: classify the host by the Server: header of its root page.
#include "devicecmd/server_probe.h"

#include <array>
#include <cstdint>
#include <string_view>

#include "devicecmd/chunked_search.h"
#include "devicecmd/device_connection.h"
#include "platform/log.h"
#include "spine/events.h"
#include "spine/transfer_hooks.h"

namespace {

constexpr std::string_view kProbeRequest = "GET / HTTP/1.0\r\n\r\n";
constexpr int kProbeChunkSize = 16384;
// A root page that goes on this long without a Server: pattern is not a device's: stop reading.
constexpr std::size_t kProbeReplyLimit = 1u << 20;

struct ServerPattern {
    std::string_view text;
    ServerType result;
};

// Tested in this order on each searched text; the first one found decides. The other products
// come first, and the models before the bare family name.
constexpr std::array<ServerPattern, 5> kServerPatterns{{
    {"Server: Merrowin II", SERVER_UNSUPPORTED},
    {"Server: Wendrake", SERVER_UNSUPPORTED},
    {"Server: Tavio 21", SERVER_TAVIO_21},
    {"Server: Tavio 22", SERVER_TAVIO_22},
    {"Server: Tavio", SERVER_TAVIO},
}};

constexpr std::size_t LongestPattern() {
    std::size_t longest = 0;
    for (const auto& p : kServerPatterns)
        longest = p.text.size() > longest ? p.text.size() : longest;
    return longest;
}

// SERVER_UNRECOGNISED when none of the patterns is in `text`.
ServerType Classify(std::string_view text) {
    for (const auto& p : kServerPatterns)
        if (text.find(p.text) != std::string_view::npos) return p.result;
    return SERVER_UNRECOGNISED;
}

ServerType ReadServerType(plat::SocketHandle s) {
    static_assert(LongestPattern() < kProbeChunkSize);
    std::array<std::uint8_t, kProbeChunkSize> chunk{};
    ChunkedSearch search(LongestPattern());
    for (std::size_t examined = 0; examined < kProbeReplyLimit;) {
        // The socket's receive time-out bounds each wait; its expiry is a failed receive.
        const int n = plat::SocketRecv(s, chunk, plat::kWaitForever);
        if (n == 0) return SERVER_UNRECOGNISED;
        if (n < 0) {
            RaiseError(ERR_RECEIVE);
            plat::Log("Error in recv() call [errno=%d]\n", plat::LastSocketError());
            return SERVER_UNRECOGNISED;
        }
        examined += static_cast<std::size_t>(n);
        const ServerType type =
            Classify(search.Next(std::span(chunk).first(static_cast<std::size_t>(n))));
        if (type != SERVER_UNRECOGNISED) return type;
    }
    plat::Log("The reply passed %zu bytes without naming its server.\n", kProbeReplyLimit);
    return SERVER_UNRECOGNISED;
}

}  // namespace

ServerType ProbeServerType(const char* host) {
    const DeviceConnection connection(ConnectToDevice(host, 1));
    if (!connection.IsOpen()) return SERVER_UNRECOGNISED;

    plat::Log("Trying to determing the server type.\n");
    const auto request = std::span(reinterpret_cast<const std::uint8_t*>(kProbeRequest.data()),
                                   kProbeRequest.size());
    if (plat::SocketSend(connection.Socket(), request) < 0) {
        RaiseError(ERR_SEND);
        plat::Log("Error in send() call [errno=%d]\n", plat::LastSocketError());
        return SERVER_UNRECOGNISED;
    }
    return ReadServerType(connection.Socket());
}
