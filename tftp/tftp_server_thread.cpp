// The run thread: opens the socket, reads it while bookings wait for their devices' requests
// (each request starts its transfer on a thread of its own), and closes the run once no booking
// waits and no transfer runs; TftpServerRunning falls back to 0 on every way out.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "platform/log.h"
#include "spine/events.h"
#include "spine/shared_state.h"
#include "spine/transfer_hooks.h"
#include "tftp/tftp_packets.h"
#include "tftp/tftp_peer_wait.h"
#include "tftp/tftp_port_owner.h"
#include "tftp/tftp_server.h"
#include "tftp/tftp_settings.h"

namespace {

void ThreadEntry(void* argument) {
    TftpServerThread(static_cast<int>(reinterpret_cast<std::intptr_t>(argument)));
}

// The socket's failure is reported through the registered hooks as always; the run also keeps
// its code, for the bookers that wait on this run.
thread_local TftpOpenFailure openErrorSeen{};

bool NoteOpenError(int code, const void* detail) {
    const auto* cause = static_cast<const FailureCause*>(detail);  // OpenTftpSocket gives one
    openErrorSeen = TftpOpenFailure{code, plat::LastSocketError(),
                                    cause != nullptr ? *cause : FailureCause{}};
    return TransferHooks.ReportError != nullptr && TransferHooks.ReportError(code, detail);
}

plat::SocketHandle OpenRunSocket(TftpOpenFailure* openError) {
    TransferHooksTable noting = ActiveTransferHooks();
    noting.ReportError = NoteOpenError;
    openErrorSeen = TftpOpenFailure{};
    const ScopedTransferHooks bound(&noting, ActiveTransferRecord());
    const plat::SocketHandle socket = OpenTftpSocket();
    *openError = openErrorSeen;
    return socket;
}

}  // namespace

bool ServeTftpRequest(TftpContext& context, int length) {
    plat::Log("...received TFTP request from %s ...\n",
              plat::FormatIpv4(context.PeerAddress.address).c_str());
    if (TftpGet16(context.Packet) == TFTP_WRQ) {
        if (ActiveTransferHooks().UploadConfig == nullptr) {
            SendTftpError(context, TFTP_ERR_ACCESS_VIOLATION);
            plat::Log("Write was recieved ... and failed.");
            context.Result = TftpRunResult::Refused;
            return true;
        }
        plat::Log("Server is uploading the config file.\n");
        if (ProcessTftpWriteRequest(context, context.Packet, length, context.PeerAddress) == 0)
            plat::Log("Error: ProcessTftpWriteRequest() call failed...bailing out. \n");
        return true;
    }
    if (ActiveTransferHooks().DownloadConfig == nullptr) {
        SendTftpError(context, TFTP_ERR_ACCESS_VIOLATION);
        plat::Log("Read received and rejected.\n");
        context.Result = TftpRunResult::Refused;
        return true;
    }
    if (ProcessTftpReadRequest(context, context.Packet, length, context.PeerAddress) == 0) {
        context.Result = TftpRunResult::Failed;
        RaiseError(ERR_READ_REQUEST);
        plat::Log("Error: ProcessTftpReadRequest() call failed...bailing out. \n");
        return false;
    }
    return true;
}

int StartTftpServer(int ServeMode) {
    if (!OwnerRunStarting()) {
        plat::Log("Another run already holds the TFTP port.\n");
        return 1;
    }
    if (!OwnerStartRunThread(ThreadEntry,
                             reinterpret_cast<void*>(static_cast<std::intptr_t>(ServeMode))))
        plat::Log("Could not start the TFTP server thread.\n");
    return 1;
}

int TftpServerThread(int) {
    plat::Log("\ntftp server thread started...\n");
    TftpOpenFailure openError{};
    const plat::SocketHandle socket = OpenRunSocket(&openError);
    TftpServerRunning.store(1);
    if (socket == plat::kNoSocket) {
        TftpServerRunning.store(0);
        OwnerRunNotOpened(openError);
        return 0;
    }
    TftpPortSlot slot;
    OwnerRunOpened(socket, slot);
    plat::Log("Waiting for TFTP client request ...\n");

    // The run's slot never gets a datagram back: requests go to their transfers' threads.
    std::vector<std::uint8_t> area(kTftpReceiveArea);
    bool normalEnd = true;
    for (;;) {
        int waitMs = 0;
        const TftpRunStep step = OwnerRunNextStep(slot, &waitMs);
        if (step == TftpRunStep::End) break;
        if (step == TftpRunStep::OwnBookingExpired) {
            plat::Log("No TFTP request came within %d ms.\n", TftpSettings.FirstRequestTimeoutMs);
            continue;
        }
        plat::Ipv4Endpoint from{};
        const int received = ReceiveOnTftpPort(slot, area, &from, waitMs);
        if (received >= 0 || received == plat::kTimedOut) continue;
        // The socket itself failed: the bookings waiting on it will get no request.
        plat::Log("Error in recvfrom() call [errno=%d]\n", plat::LastSocketError());
        normalEnd = false;
        OwnerRunReceiveFailed();
    }
    OwnerRunLetsGo(slot);
    plat::Log("\nftp server thread finished...\n");
    // The flag falls first: a command that sees this run's outcome may start the next server
    // at once.
    TftpServerRunning.store(0);
    OwnerRunClosed();
    return normalEnd ? 1 : 0;
}
