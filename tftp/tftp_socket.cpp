// The server's UDP socket, and the port test the commands make before they start the server.
#include "platform/log.h"
#include "spine/events.h"
#include "spine/failure_cause.h"
#include "spine/shared_state.h"
#include "spine/transfer_hooks.h"
#include "tftp/tftp_dally.h"
#include "tftp/tftp_server.h"
#include "tftp/tftp_settings.h"

namespace {

// The failed step on our TFTP port, with the system's words for this thread's socket error.
FailureCause PortCause(const char* step) {
    return FailureCause{"port " + std::to_string(TftpSettings.Port), step,
                        plat::SocketErrorText(plat::LastSocketError())};
}

}  // namespace

plat::SocketHandle OpenTftpSocket() {
    EndTftpDally();  // a finished write may still hold the port for its dally
    const int startup = plat::NetStartup();
    if (startup != 0) {
        plat::SetLastSocketError(startup);
        RaiseFailure(ERR_SOCKETS_SETUP, PortCause("socket library start-up"));
        plat::Log("Error in WSAStartup() call [errno=%d]\n", startup);
        return plat::kNoSocket;
    }
    const plat::SocketHandle socket = plat::UdpOpen();
    if (socket == plat::kNoSocket) {
        RaiseFailure(ERR_TFTP_SOCKET, PortCause("socket"));
        plat::Log("Error in socket() call [errno=%d]\n", plat::LastSocketError());
        plat::NetCleanup();
        return plat::kNoSocket;
    }
    // Our own server already holds the port: the socket is only a sign that sockets work.
    if (TftpServerRunning.load() != 0) return socket;
    if (!plat::SocketBind(socket, plat::Ipv4Endpoint{plat::kAnyAddress, TftpSettings.Port})) {
        RaiseFailure(ERR_BIND, PortCause("bind"));
        plat::Log("Error in bind() call [errno=%d]\n", plat::LastSocketError());
        plat::SocketClose(socket);
        plat::NetCleanup();
        return plat::kNoSocket;
    }
    return socket;
}

int TftpPortAvailable() {
    const plat::SocketHandle socket = OpenTftpSocket();
    if (socket == plat::kNoSocket) return 0;
    plat::SocketClose(socket);
    plat::NetCleanup();
    return 1;
}
