// ProbeServerType: classify the host by the Server: header of its root page.
#include "devicecmd/server_probe.h"

#include <array>
#include <cstdint>
#include <string_view>

#include "devicecmd/chunked_search.h"
#include "devicecmd/device_connection.h"
#include "devicecmd/device_settings.h"
#include "devicecmd/failure_words.h"
#include "devicecmd/reply_deadline.h"
#include "devicecmd/server_type_match.h"
#include "platform/log.h"
#include "spine/events.h"
#include "spine/transfer_hooks.h"

namespace {

constexpr std::string_view kProbeRequest = "GET / HTTP/1.0\r\n\r\n";
constexpr int kProbeChunkSize = 16384;
// A root page that goes on this long without a Server: pattern is not a device's: stop reading.
constexpr std::size_t kProbeReplyLimit = 1u << 20;

// Reads until a pattern settles the type, the reply ends, a read fails or times out, or the
// probe's deadline passes (which ends it like a read that timed out). A pattern held back for a
// longer one that might still arrive stands when the reply ends, whichever way it ends.
ServerType ReadServerType(plat::SocketHandle s, const ReplyDeadline& deadline, const char* host,
                          std::uint16_t port) {
    std::array<std::uint8_t, kProbeChunkSize> chunk{};
    ChunkedSearch search(LongestServerPattern());
    const int perReadMs =
        DeviceSettings.ProbeTimeoutMs > 0 ? DeviceSettings.ProbeTimeoutMs : plat::kWaitForever;
    ServerType tentative = SERVER_UNRECOGNISED;
    for (std::size_t examined = 0; examined < kProbeReplyLimit;) {
        const int n = plat::SocketRecv(s, chunk, deadline.NextWaitMs(perReadMs));
        if (n == 0) return tentative;
        if (n < 0) {
            if (tentative != SERVER_UNRECOGNISED) return tentative;
            FailureCause cause = DeviceSocketCause(host, port, "receive");
            if (n == plat::kTimedOut)
                cause.text = NoReplyWithin(deadline.Passed() ? DeviceSettings.ProbeDeadlineMs
                                                             : perReadMs);
            RaiseFailure(ERR_RECEIVE, cause);
            plat::Log("Error in recv() call [errno=%d]\n", plat::LastSocketError());
            return SERVER_UNRECOGNISED;
        }
        examined += static_cast<std::size_t>(n);
        const std::string_view text =
            search.Next(std::span(chunk).first(static_cast<std::size_t>(n)));
        const ServerTypeMatch match = MatchServerType(text, !search.TextEnded());
        if (match.settled) return match.type;
        tentative = match.type;
    }
    if (tentative != SERVER_UNRECOGNISED) return tentative;
    plat::Log("The reply passed %zu bytes without naming its server.\n", kProbeReplyLimit);
    return SERVER_UNRECOGNISED;
}

}  // namespace

ServerType ProbeServerType(const char* host, std::atomic<std::uint32_t>* reached,
                           std::uint16_t port) {
    const ReplyDeadline deadline(DeviceSettings.ProbeDeadlineMs);
    const DeviceConnection connection(ConnectToDevice(host, 1, reached, 0, port));
    if (!connection.IsOpen()) return SERVER_UNRECOGNISED;

    plat::Log("Trying to determing the server type.\n");
    const auto request = std::span(reinterpret_cast<const std::uint8_t*>(kProbeRequest.data()),
                                   kProbeRequest.size());
    if (plat::SocketSend(connection.Socket(), request) < 0) {
        RaiseFailure(ERR_SEND, DeviceSocketCause(host, port, "send"));
        plat::Log("Error in send() call [errno=%d]\n", plat::LastSocketError());
        return SERVER_UNRECOGNISED;
    }
    return ReadServerType(connection.Socket(), deadline, host, port);
}
