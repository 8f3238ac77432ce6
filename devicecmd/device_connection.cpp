// ConnectToDevice: one TCP connection to the device's web port.
#include "devicecmd/device_connection.h"

#include <cstdint>

#include "devicecmd/device_settings.h"
#include "devicecmd/failure_words.h"
#include "platform/log.h"
#include "spine/events.h"
#include "spine/shared_state.h"
#include "spine/transfer_hooks.h"

namespace {

// The one line printed for both time-outs; the event is the same too.
bool SetProbeTimeouts(plat::SocketHandle s, const char* host, std::uint16_t port) {
    const int ms = DeviceSettings.ProbeTimeoutMs;
    if (plat::SocketSetRecvTimeout(s, ms) && plat::SocketSetSendTimeout(s, ms)) return true;
    RaiseFailure(ERR_TFTP_SOCKET, DeviceSocketCause(host, port, "setsockopt"));
    plat::Log("Failed to set recv timeout: %d\n", plat::LastSocketError());
    return false;
}

}  // namespace

plat::SocketHandle ConnectToDevice(const char* host, int withTimeouts,
                                   std::atomic<std::uint32_t>* reached, std::uint32_t acceptFrom,
                                   std::uint16_t port) {
    if (const int code = plat::NetStartup(); code != 0) {
        plat::SetLastSocketError(code);
        RaiseFailure(ERR_SOCKETS_SETUP, DeviceSocketCause(host, port, "socket library start-up"));
        plat::Log("Error in WSAStartup() call [errno=%d]\n", code);
        return plat::kNoSocket;
    }
    plat::Log("Resolving Drennick server %s.\n", host);

    std::uint32_t address = 0;
    if (!plat::ResolveIpv4(host, &address)) {
        RaiseFailure(ERR_RESOLVE, FailureCause{host, "resolve", plat::LastResolveErrorText()});
        plat::Log("ERROR: invalid network name %s.\n", host);
        plat::NetCleanup();
        return plat::kNoSocket;
    }

    const plat::SocketHandle s = plat::TcpOpen();
    if (s == plat::kNoSocket) {
        // Reported as a connection failure so that the operator sees a cause on the panel.
        RaiseFailure(ERR_CONNECT, DeviceSocketCause(host, port, "socket"));
        plat::Log("Error in socket() call [errno=%d]\n", plat::LastSocketError());
        plat::NetCleanup();
        return plat::kNoSocket;
    }

    if (withTimeouts == 1 && !SetProbeTimeouts(s, host, port)) {
        plat::SocketClose(s);
        plat::NetCleanup();
        return plat::kNoSocket;
    }

    const plat::Ipv4Endpoint device{address, port != 0 ? port : DeviceSettings.Port};
    const int connectMs =
        DeviceSettings.ConnectTimeoutMs > 0 ? DeviceSettings.ConnectTimeoutMs : plat::kWaitForever;
    if (!plat::SocketConnect(s, device, connectMs)) {
        RaiseFailure(ERR_CONNECT, DeviceSocketCause(host, port, "connect"));
        plat::Log("Error in connect() call [errno=%d]\n", plat::LastSocketError());
        plat::SocketClose(s);
        plat::NetCleanup();
        return plat::kNoSocket;
    }
    // The device's TFTP client talks from the address this connection reached, unless we were
    // told another; the server takes requests from that address only.
    plat::Ipv4Endpoint peer = device;
    if (!plat::SocketPeerAddress(s, &peer)) peer = device;
    if (acceptFrom == 0) acceptFrom = DeviceSettings.DeviceTftpAddress;
    (reached != nullptr ? *reached : DeviceAddress)
        .store(acceptFrom != 0 ? acceptFrom : peer.address);
    return s;
}
