// The run thread: opens the socket, takes the single-device path's request and serves it, keeps
// the port while bookings wait or their transfers run, then closes the socket; TftpServerRunning
// falls back to 0 on every way out.
#include <algorithm>
#include <cstdint>
#include <iterator>

#include "platform/log.h"
#include "platform/threads.h"
#include "spine/events.h"
#include "spine/shared_state.h"
#include "spine/transfer_hooks.h"
#include "tftp/tftp_dally.h"
#include "tftp/tftp_engine.h"
#include "tftp/tftp_outcome.h"
#include "tftp/tftp_packets.h"
#include "tftp/tftp_server.h"
#include "tftp/tftp_settings.h"

namespace {

void ThreadEntry(void* argument) {
    TftpServerThread(static_cast<int>(reinterpret_cast<std::intptr_t>(argument)));
}

// While bookings keep the run going, the run thread looks this often whether it is still needed.
constexpr int kRunCheckMs = 50;

enum class RequestWait { Request, Ended, RunOver };

// Waits, within FirstRequestTimeoutMs, for an RRQ or WRQ from the device (DeviceAddress); the
// wait starts afresh whenever a command arms the run. Anything else from the device that arrives
// meanwhile (a late packet of an earlier transfer, garbage) is logged and ignored. From the
// device, an empty datagram, a failed receive and the time-out end the wait (their lines are
// logged here); datagrams from any other address never do (the port's reader refuses them).
// While no such wait is on, waits in short steps until the run has nothing left to wait for.
RequestWait WaitForRequest(TftpContext& context, int* length) {
    std::uint64_t giveUpAt =
        plat::MonotonicMs() + static_cast<std::uint64_t>(TftpSettings.FirstRequestTimeoutMs);
    bool waiting = false;
    {
        TftpEngineRecord& e = TftpEngine();
        std::lock_guard guard(e.lock);
        waiting = e.listening;
    }
    if (waiting) plat::Log("Waiting for TFTP client request ...\n");
    for (;;) {
        TftpEngineRecord& e = TftpEngine();
        bool bookings = false;
        {
            std::lock_guard guard(e.lock);
            if (!waiting && e.listening) {
                waiting = true;  // a command armed a run that served bookings alone
                giveUpAt = e.listenSinceMs +
                           static_cast<std::uint64_t>(TftpSettings.FirstRequestTimeoutMs);
            }
            bookings = e.bookedTransfers != 0 || !e.bookings.empty();
        }
        if (!waiting) {
            if (EndTftpRunIfIdle(false)) return RequestWait::RunOver;
        }
        const std::uint64_t now = plat::MonotonicMs();
        if (waiting && now >= giveUpAt) {
            if (!EndTftpWaitUnlessArmed(&giveUpAt, TftpSettings.FirstRequestTimeoutMs)) continue;
            plat::Log("No TFTP request came within %d ms.\n", TftpSettings.FirstRequestTimeoutMs);
            return RequestWait::Ended;
        }
        int waitMs = waiting ? static_cast<int>(giveUpAt - now) : kRunCheckMs;
        if (bookings) waitMs = std::min(waitMs, kRunCheckMs);
        std::fill(std::begin(context.Packet), std::end(context.Packet), std::uint8_t{0});
        plat::Ipv4Endpoint from{};
        const int received = ReceiveOnTftpPort(*context.Slot, context.Packet, &from, waitMs);
        if (received == plat::kTimedOut) continue;
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

// Puts the run slot back to waiting for the single-device path's next request.
void ResetRunSlot(TftpPortSlot& slot) {
    TftpEngineRecord& e = TftpEngine();
    std::lock_guard guard(e.lock);
    slot.Peer = plat::Ipv4Endpoint{};
    slot.RunThread = true;
    slot.Abandoned = false;
    slot.Mailbox.clear();
}

// False when another run already holds the port (a run started without a command's
// readiness check): this one then leaves the port alone.
bool OpenRun(TftpContext& context, TftpPortSlot& slot, bool singleDevice) {
    TftpEngineRecord& e = TftpEngine();
    {
        std::lock_guard guard(e.lock);
        if (e.runAlive || e.runSlot != nullptr) return false;
        e.runStarting = false;
        e.socket = context.Socket;
        e.runAlive = true;
        e.runSlot = &slot;
        e.slots.push_back(&slot);
    }
    if (singleDevice) NoteTftpServerListening();
    std::lock_guard guard(e.lock);
    e.changed.notify_all();
    return true;
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
    NoteTftpRunStarting();
    if (!plat::ThreadStart(ThreadEntry,
                           reinterpret_cast<void*>(static_cast<std::intptr_t>(ServeMode)))) {
        plat::Log("Could not start the TFTP server thread.\n");
        NoteTftpRunEnded(TftpRunOutcome{});
    }
    return 1;
}

int TftpServerThread(int ServeMode) {
    plat::Log("\ntftp server thread started...\n");
    const bool singleDevice = ServeMode != kServeBookings;
    TftpContext context;
    if (singleDevice) {
        context.Socket = OpenTftpSocket();
    } else {
        TftpEngineRecord& e = TftpEngine();
        TransferHooksTable opener{};
        void* openerRecord = nullptr;
        {
            std::lock_guard guard(e.lock);
            opener = e.openerHooks;
            openerRecord = e.openerRecord;
        }
        const ScopedTransferHooks bound(&opener, openerRecord);
        context.Socket = OpenTftpSocket();
    }
    TftpServerRunning.store(1);
    if (context.Socket == plat::kNoSocket) {
        TftpServerRunning.store(0);
        NoteTftpRunEnded(TftpRunOutcome{});
        return 0;
    }
    TftpPortSlot slot;
    slot.RunThread = true;
    context.Slot = &slot;
    if (!OpenRun(context, slot, singleDevice)) {
        plat::Log("Another run already holds the TFTP port.\n");
        plat::SocketClose(context.Socket);
        plat::NetCleanup();
        NoteTftpRunEnded(TftpRunOutcome{}, false);
        return 0;
    }

    TftpRunOutcome outcome;
    bool normalEnd = false;
    bool waitedIdle = false;
    for (;;) {
        int length = 0;
        const RequestWait wait = WaitForRequest(context, &length);
        if (wait == RequestWait::RunOver) break;
        if (wait == RequestWait::Ended) {
            if (EndTftpRunIfIdle(true)) {
                waitedIdle = true;
                break;
            }
            continue;
        }
        outcome = TftpRunOutcome{};
        outcome.Request = NoteTftpRequestTaken();
        context.Result = TftpRunResult::Failed;
        context.Bytes = 0;
        context.DallyBlock = 0;
        normalEnd = ServeTftpRequest(context, length);
        outcome.Result = context.Result;
        outcome.Bytes = context.Bytes;
        if (NoteTftpRequestServed(outcome)) break;
        // Bookings keep the run going: this request's part ends here, without a dally.
        if (normalEnd) RaiseStatus(STATUS_SERVER_DONE);
        ResetRunSlot(slot);
        outcome = TftpRunOutcome{};
        normalEnd = false;
    }

    // A stored write keeps its socket for the dally (tftp_dally.h), which runs only after the
    // outcome is recorded below.
    context.ClosesSocket = true;
    const bool dally = TftpDallyWanted(context);
    if (!dally) CloseTftpPort(context);
    if (normalEnd) RaiseStatus(STATUS_SERVER_DONE);
    plat::Log("\nftp server thread finished...\n");
    // The flag falls first: a command that sees this run's outcome may start the next server
    // at once.
    TftpServerRunning.store(0);
    NoteTftpRunEnded(outcome, waitedIdle);
    if (dally) RunTftpDally(context);
    return normalEnd ? 1 : 0;
}
