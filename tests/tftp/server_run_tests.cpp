// A run of the server thread: the wait for its one request, refusals, the socket and its port,
// and the flag that always falls back to 0.
#include <gtest/gtest.h>

#include <chrono>

#include "app/config_file_hooks.h"
#include "platform/fault_injection.h"
#include "platform/threads.h"
#include "spine/events.h"
#include "spine/shared_state.h"
#include "spine/transfer_hooks.h"
#include "tests/tftp/tftp_server_fixture.h"
#include "tftp/tftp_server.h"

using namespace testing_support;

namespace {

class ServerRun : public TftpServerTest {};

}  // namespace

TEST_F(ServerRun, StraysWhileWaitingAreIgnoredAndTheRequestIsStillServed) {
    StartServer();
    LoadImage("config");  // a command loads the image while the server already waits
    TftpTestPeer peer(port);
    peer.Send(TftpAck(3));                  // a late ACK of an earlier transfer
    peer.Send(TftpData(7, std::string()));  // a stray empty DATA after a full last block
    peer.Send(Bytes{0x42});                 // garbage
    EXPECT_FALSE(peer.Receive(100).has_value()) << "strays get no answer";
    EXPECT_TRUE(peer.Get("image").complete);
    EXPECT_EQ(FinishRun().Result, TftpRunResult::FileServed);
    EXPECT_TRUE(
        log.Contains("\ntftp server thread started...\nWaiting for TFTP client request ...\n"));
    EXPECT_TRUE(log.Contains("\nftp server thread finished...\n"));
}

TEST_F(ServerRun, SilenceEndsTheWaitWithinItsBoundAndTheOutcomeSaysSo) {
    TftpSettings.FirstRequestTimeoutMs = 150;
    StartServer();
    TftpTestPeer peer(port);
    peer.Send(TftpAck(1));  // a stray does not restart the bound
    // The command's wait ends when the run ends, not when its (long) grace runs out.
    const auto before = std::chrono::steady_clock::now();
    const TftpRunOutcome waited = WaitForTftpOutcome(ticket, 60000);
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(30));
    EXPECT_EQ(waited.Request, 0u);
    EXPECT_EQ(waited.Result, TftpRunResult::NoRequest);
    EXPECT_EQ(FinishRun().Result, TftpRunResult::NoRequest);
    EXPECT_TRUE(RecordedStatuses().empty());
}

// A command is handed a run that listens, with its wait for a request started afresh; a run that
// is busy (or ending) is never handed over: the command waits for it and starts a fresh one.
TEST_F(ServerRun, ACommandGetsAListeningRunWithAFreshWaitAndNeverABusyOne) {
    TftpSettings.FirstRequestTimeoutMs = 400;
    LoadImage("config");
    const std::uint32_t endedBefore = TftpRunsEnded();
    std::uint32_t first = 0;
    ASSERT_EQ(ReadyTftpServer(3000, &first), TftpReadiness::Ready);
    EXPECT_EQ(IsTftpServerRunning(), 1) << "ready means the socket is open";
    plat::SleepMs(300);
    std::uint32_t second = 0;
    ASSERT_EQ(ReadyTftpServer(3000, &second), TftpReadiness::Ready);
    plat::SleepMs(300);  // past the end of the first wait, within the second
    TftpTestPeer device(port);
    EXPECT_TRUE(device.Get("image").complete);
    EXPECT_EQ(WaitForTftpOutcome(second, 3000).Result, TftpRunResult::FileServed);
    EXPECT_EQ(TftpRunsEnded(), endedBefore + 1) << "one run served the second command";

    ASSERT_EQ(ReadyTftpServer(3000, &first), TftpReadiness::Ready);
    TftpTestPeer writer(port);
    writer.Send(TftpRequest(2, "upload-image", "octet"));  // taken, and no DATA follows
    ASSERT_TRUE(writer.Receive(2000).has_value());
    EXPECT_EQ(ReadyTftpServer(100, &second), TftpReadiness::NotReady);
    writer.Send(TftpError(0, "gone"));
    EXPECT_EQ(ReadyTftpServer(3000, &second), TftpReadiness::Ready);
    EXPECT_EQ(TftpRunsEnded(), endedBefore + 2) << "a fresh run after the busy one ended";
    started = true;  // the fixture waits for the last run's end
    runsBefore = TftpRunsEnded();
    ticket = second;
}

TEST_F(ServerRun, EmptyOrOversizedDatagramEndsTheRunAsAFailure) {
    struct Case {
        Bytes datagram;
        std::vector<int> errors;
        const char* line;
    };
    const Case cases[] = {
        {Bytes{}, {ERR_SOCKET_CLOSED}, "socket was closed\n"},
        {TftpRequest(1, std::string(600, 'i'), "octet"), {}, "Error in recvfrom() call [errno="},
    };
    for (const Case& c : cases) {
        ClearRecordedEvents();
        StartServer();
        TftpTestPeer peer(port);
        peer.Send(c.datagram);
        EXPECT_EQ(FinishRun().Result, TftpRunResult::NoRequest);
        EXPECT_EQ(RecordedErrors(), c.errors);
        EXPECT_TRUE(RecordedStatuses().empty());
        EXPECT_TRUE(log.Contains(c.line)) << c.line;
    }
}

TEST_F(ServerRun, RefusedRequestsGetTheMatchingErrorAndAreNotServed) {
    struct Case {
        Bytes request;
        int code;
        const char* line;
    };
    const Case cases[] = {
        {TftpRequest(1, "IMAGE", "octet"), 1, "CheckFilename:346 - Bad image name requested.\n"},
        {TftpRequest(2, "image", "octet"), 1, "CheckFilename:354 - Bad image name requested.\n"},
        {TftpRequest(1, "image", "netascii"), 4,
         "CheckFilename:378 - Bad transfer mode requested.\n"},
        {TftpRequest(2, "upload-image", "OCTET"), 4, "CheckFilename:378"},
        {Bytes{0, 2, 'u', 'p', 'l', 'o', 'a', 'd', '-', 'i', 'm', 'a', 'g', 'e', 0}, 4,
         "CheckFilename:374 - Could not find transfer mode in request.\n"},
        {Bytes{0, 1, 'i', 'm', 'a', 'g', 'e'}, 4,
         "CheckFilename:338 - Could not find filename in request.\n"},
    };
    LoadImage("config");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        ClearRecordedEvents();
        log.Clear();
        StartServer();
        TftpTestPeer peer(port);
        peer.Send(c.request);
        const auto answer = peer.Receive(2000);
        const TftpRunOutcome run = FinishRun();
        ASSERT_TRUE(answer.has_value());
        EXPECT_EQ(answer->Opcode(), 5);
        EXPECT_EQ(answer->Field(), c.code);
        EXPECT_FALSE(peer.Receive(50).has_value());
        EXPECT_EQ(run.Result, TftpRunResult::Refused);
        EXPECT_NE(run.Request, 0u);
        EXPECT_EQ(RecordedStatuses(), std::vector<int>{STATUS_SERVER_DONE});
        EXPECT_TRUE(log.Contains(c.line));
        EXPECT_FALSE(TemporaryLeftBehind());
    }
}

TEST_F(ServerRun, WithoutFileHooksRequestsAreAnsweredWithAccessViolation) {
    RegisterTransferHooks(CheckFilename, nullptr, nullptr, TransferHooks.ReportError,
                          TransferHooks.ReportStatus);
    struct Case {
        std::uint16_t opcode;
        const char* name;
        const char* line;
    };
    const Case cases[] = {{1, "image", "Read received and rejected.\n"},
                          {2, "upload-image", "Write was recieved ... and failed."}};
    const Bytes accessViolation{0,   5,   0,   2,   'A', 'c', 'c', 'e', 's', 's', ' ',
                                'v', 'i', 'o', 'l', 'a', 't', 'i', 'o', 'n', 0};
    for (const Case& c : cases) {
        StartServer();
        TftpTestPeer peer(port);
        peer.Send(TftpRequest(c.opcode, c.name, "octet"));
        const auto answer = peer.Receive(2000);
        EXPECT_EQ(FinishRun().Result, TftpRunResult::Refused);
        ASSERT_TRUE(answer.has_value());
        EXPECT_EQ(answer->bytes, accessViolation);  // 21 bytes, to the requester's own port
        EXPECT_TRUE(log.Contains(c.line));
    }
}

TEST_F(ServerRun, PortHeldByAnotherSocketIsReportedAndOurOwnServerIsNot) {
    plat::NetStartup();
    const plat::SocketHandle holder = plat::UdpOpen();
    ASSERT_TRUE(plat::SocketBind(holder, plat::Ipv4Endpoint{plat::kAnyAddress, port}));
    EXPECT_EQ(TftpPortAvailable(), 0);
    EXPECT_EQ(RecordedErrors(), std::vector<int>{ERR_BIND});
    EXPECT_TRUE(log.Contains("Error in bind() call [errno="));
    std::uint32_t readied = 0;
    EXPECT_EQ(ReadyTftpServer(3000, &readied), TftpReadiness::NotOpened);
    plat::SocketClose(holder);
    plat::NetCleanup();

    ClearRecordedEvents();
    TftpSettings.FirstRequestTimeoutMs = 300;
    StartServer();
    EXPECT_EQ(TftpPortAvailable(), 1) << "our own running server holds the port";
    EXPECT_TRUE(RecordedErrors().empty());
}

TEST_F(ServerRun, SocketSetupFailuresAreReportedAndLeaveTheFlagDown) {
    struct Case {
        plat::Op op;
        int errorEvent;
        const char* line;
    };
    const Case cases[] = {
        {plat::Op::NetStartup, ERR_SOCKETS_SETUP, "Error in WSAStartup() call [errno=10000]\n"},
        {plat::Op::SocketOpen, ERR_TFTP_SOCKET, "Error in socket() call [errno=10000]\n"},
    };
    for (const Case& c : cases) {
        ClearRecordedEvents();
        plat::InjectFailure(c.op, 0, plat::kAlways);
        EXPECT_EQ(TftpPortAvailable(), 0);
        StartServer();
        EXPECT_EQ(FinishRun().Result, TftpRunResult::NoRequest);
        plat::ClearInjectedFailures();
        EXPECT_EQ(RecordedErrors(), (std::vector<int>{c.errorEvent, c.errorEvent}));
        EXPECT_TRUE(log.Contains(c.line));
    }
}

TEST_F(ServerRun, AThreadThatCannotStartLeavesTheFlagDownAndTheCommandIsTold) {
    plat::InjectFailure(plat::Op::ThreadStart, 0, 1);
    const std::uint32_t before = TakeTftpTicket();
    EXPECT_EQ(StartTftpServer(2), 1);
    EXPECT_EQ(IsTftpServerRunning(), 0);
    EXPECT_EQ(WaitForTftpOutcome(before, 50).Result, TftpRunResult::NoRequest);
    plat::InjectFailure(plat::Op::ThreadStart, 0, 1);
    std::uint32_t readied = 0;
    EXPECT_EQ(ReadyTftpServer(3000, &readied), TftpReadiness::NotOpened);
}

TEST_F(ServerRun, AnErrorPacketThatCannotBeSentIsLogged) {
    plat::InjectFailure(plat::Op::SendTo, 1, 1);  // the peer's request goes, the refusal fails
    StartServer();
    TftpTestPeer peer(port);
    peer.Send(TftpRequest(1, "other", "octet"));
    EXPECT_EQ(FinishRun().Result, TftpRunResult::Refused);
    EXPECT_TRUE(log.Contains("ERROR: nak errno=10000."));
}
