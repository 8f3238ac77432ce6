// The server thread: one socket, one request per run, then the socket is closed and
// TftpServerRunning falls back to 0 on every way out.
#include <algorithm>
#include <cstdint>
#include <iterator>

#include "platform/log.h"
#include "platform/threads.h"
#include "spine/events.h"
#include "spine/shared_state.h"
#include "spine/transfer_hooks.h"
#include "tftp/tftp_dally.h"
#include "tftp/tftp_outcome.h"
#include "tftp/tftp_packets.h"
#include "tftp/tftp_server.h"
#include "tftp/tftp_settings.h"

namespace {

void ThreadEntry(void* argument) {
    TftpServerThread(static_cast<int>(reinterpret_cast<std::intptr_t>(argument)));
}

enum class RequestWait { Request, Ended };

// A datagram from an address other than the device's never reaches the run: it is logged and
// answered with ERROR 2 (an ERROR packet gets no answer, so two servers cannot keep each other
// busy).
void RefuseForeignDatagram(const TftpContext& context, plat::Ipv4Endpoint from, int received) {
    plat::Log("Refused a datagram from %s:%u, which is not the device.\n",
              plat::FormatIpv4(from.address).c_str(), static_cast<unsigned>(from.port));
    if (received >= 2 && TftpGet16(context.Packet) == TFTP_ERROR) return;
    SendTftpErrorTo(context.Socket, from, 2);
}

// Waits, within FirstRequestTimeoutMs, for an RRQ or WRQ from the device (DeviceAddress); the
// wait starts afresh whenever a command arms the run. Anything else from the device that arrives
// meanwhile (a late packet of an earlier transfer, garbage) is logged and ignored. From the
// device, an empty datagram, a failed receive and the time-out end the wait (their lines are
// logged here); datagrams from any other address never do.
RequestWait WaitForRequest(TftpContext& context, int* length) {
    std::uint64_t giveUpAt =
        plat::MonotonicMs() + static_cast<std::uint64_t>(TftpSettings.FirstRequestTimeoutMs);
    plat::Log("Waiting for TFTP client request ...\n");
    NoteTftpServerListening();
    for (;;) {
        const std::uint64_t now = plat::MonotonicMs();
        if (now >= giveUpAt) {
            if (!EndTftpWaitUnlessArmed(&giveUpAt, TftpSettings.FirstRequestTimeoutMs)) continue;
            plat::Log("No TFTP request came within %d ms.\n", TftpSettings.FirstRequestTimeoutMs);
            return RequestWait::Ended;
        }
        std::fill(std::begin(context.Packet), std::end(context.Packet), std::uint8_t{0});
        plat::Ipv4Endpoint from{};
        const int received = plat::SocketRecvFrom(context.Socket, context.Packet, &from,
                                                  static_cast<int>(giveUpAt - now));
        if (received == plat::kTimedOut) continue;
        // A failed receive that still names its sender is an oversized datagram.
        if (from.port != 0 && from.address != DeviceAddress.load()) {
            RefuseForeignDatagram(context, from, received);
            continue;
        }
        context.PeerAddress = from;
        if (received < 0) {
            plat::Log("Error in recvfrom() call [errno=%d]\n", plat::LastSocketError());
            NoteTftpWaitOver();
            return RequestWait::Ended;
        }
        if (received == 0) {
            NoteTftpWaitOver();
            RaiseError(ERR_SOCKET_CLOSED);
            plat::Log("socket was closed\n");
            return RequestWait::Ended;
        }
        const int opcode = received >= 2 ? TftpGet16(context.Packet) : -1;
        if (opcode == TFTP_RRQ || opcode == TFTP_WRQ) {
            *length = received;
            return RequestWait::Request;
        }
        plat::Log("Ignoring a datagram of %d bytes from %s that is not a request.\n", received,
                  plat::FormatIpv4(context.PeerAddress.address).c_str());
    }
}

// Serves the request in context.Packet. True for a normal end of the run.
bool HandleRequest(TftpContext& context, int length) {
    plat::Log("...received TFTP request from %s ...\n",
              plat::FormatIpv4(context.PeerAddress.address).c_str());
    if (TftpGet16(context.Packet) == TFTP_WRQ) {
        if (TransferHooks.UploadConfig == nullptr) {
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
    if (TransferHooks.DownloadConfig == nullptr) {
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

}  // namespace

int StartTftpServer(int ServeMode) {
    NoteTftpRunStarting();
    if (!plat::ThreadStart(ThreadEntry,
                           reinterpret_cast<void*>(static_cast<std::intptr_t>(ServeMode)))) {
        plat::Log("Could not start the TFTP server thread.\n");
        NoteTftpRunEnded(TftpRunOutcome{});
    }
    return 1;
}

// ServeMode: the utility only uses 2 (one request per run); every value is served that way.
int TftpServerThread(int) {
    plat::Log("\ntftp server thread started...\n");
    TftpContext context;
    context.Socket = OpenTftpSocket();
    TftpServerRunning.store(1);
    if (context.Socket == plat::kNoSocket) {
        TftpServerRunning.store(0);
        NoteTftpRunEnded(TftpRunOutcome{});
        return 0;
    }

    TftpRunOutcome outcome;
    bool normalEnd = false;
    int length = 0;
    if (WaitForRequest(context, &length) == RequestWait::Request) {
        outcome.Request = NoteTftpRequestTaken();
        normalEnd = HandleRequest(context, length);
        outcome.Result = context.Result;
        outcome.Bytes = context.Bytes;
    }

    // A stored write keeps its socket for the dally (tftp_dally.h), which runs only after the
    // outcome is recorded below.
    const bool dally = TftpDallyWanted(context);
    if (!dally) {
        plat::SocketClose(context.Socket);
        plat::NetCleanup();
    }
    if (normalEnd) RaiseStatus(STATUS_SERVER_DONE);
    plat::Log("\nftp server thread finished...\n");
    // The flag falls first: a command that sees this run's outcome may start the next server
    // at once.
    TftpServerRunning.store(0);
    NoteTftpRunEnded(outcome);
    if (dally) RunTftpDally(context);
    return normalEnd ? 1 : 0;
}
