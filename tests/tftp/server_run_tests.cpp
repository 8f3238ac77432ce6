// A run of the server thread: the wait for requests, refusals, bookings sharing the run, the
// socket and its port, and the flag that always falls back to 0.
#include <gtest/gtest.h>

#include <chrono>

#include "app/config_file_hooks.h"
#include "platform/fault_injection.h"
#include "platform/threads.h"
#include "spine/events.h"
#include "spine/shared_state.h"
#include "spine/transfer_hooks.h"
#include "tests/tftp/tftp_server_fixture.h"
#include "tftp/tftp_booking.h"
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
    // The image's lines may come before the wait's or after it: the command loads it meanwhile.
    EXPECT_TRUE(log.Contains("\ntftp server thread started...\n"));
    EXPECT_TRUE(log.Contains("\nWaiting for TFTP client request ...\n"));
    EXPECT_TRUE(log.Contains("\nftp server thread finished...\n"));
}

TEST_F(ServerRun, SilenceEndsTheWaitWithinItsBoundAndTheOutcomeSaysSo) {
    TftpSettings.FirstRequestTimeoutMs = 150;
    StartServer();
    TftpTestPeer peer(port);
    peer.Send(TftpAck(1));  // a stray does not restart the bound
    const auto before = std::chrono::steady_clock::now();
    const TftpRunOutcome waited = FinishRun();
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(10));
    EXPECT_EQ(waited.Request, 0u);
    EXPECT_EQ(waited.Result, TftpRunResult::NoRequest);
    EXPECT_TRUE(log.Contains("No TFTP request came within 150 ms.\n"));
    EXPECT_TRUE(RecordedStatuses().empty());
}

// Every transfer is a booking's, and one run serves every booking made while it is open: a
// booking made while another's transfer runs is taken by the same run, and the run ends once
// neither is left; the next booking gets a fresh run.
TEST_F(ServerRun, BookingsShareTheOpenRunAndTheRunEndsWhenNoneIsLeft) {
    LoadImage("config");
    const std::uint32_t endedBefore = TftpRunsEnded();
    TftpBooking first, second;
    ASSERT_EQ(BookSingleDeviceTransfer(3000, &first), TftpReadiness::Ready);
    EXPECT_EQ(IsTftpServerRunning(), 1) << "ready means the socket is open";
    TftpTestPeer writer(port);
    writer.Send(TftpRequest(2, "upload-image", "octet"));  // taken, and no DATA follows yet
    ASSERT_TRUE(writer.Receive(2000).has_value());
    ASSERT_EQ(BookSingleDeviceTransfer(100, &second), TftpReadiness::Ready)
        << "a busy run takes further bookings";
    TftpTestPeer reader(port);
    EXPECT_TRUE(reader.Get("image").complete);
    EXPECT_EQ(AwaitTftpBooking(second, 3000).Result, TftpRunResult::FileServed);
    writer.Send(TftpError(0, "gone"));
    EXPECT_EQ(AwaitTftpBooking(first, 3000).Result, TftpRunResult::Failed);
    for (int i = 0; i < 500 && TftpRunsEnded() == endedBefore; ++i) plat::SleepMs(10);
    EXPECT_EQ(TftpRunsEnded(), endedBefore + 1) << "one run served both";

    TftpBooking third;
    ASSERT_EQ(BookSingleDeviceTransfer(3000, &third), TftpReadiness::Ready);
    WithdrawTftpBooking(third);
    for (int i = 0; i < 500 && TftpRunsEnded() == endedBefore + 1; ++i) plat::SleepMs(10);
    EXPECT_EQ(TftpRunsEnded(), endedBefore + 2) << "a withdrawn booking ends its run at once";
    EXPECT_EQ(IsTftpServerRunning(), 0);
}

// Nothing but a valid request takes a device's booking: whatever else comes from the device's
// address first is dropped or refused, and its real request is still served.
TEST_F(ServerRun, ADatagramThatIsNoValidRequestNeverTakesTheBooking) {
    struct Case {
        Bytes datagram;
        int code;  // of the ERROR it gets, 0 for none
        const char* line;
    };
    const Case cases[] = {
        {Bytes{}, 0, "Ignoring a datagram of 0 bytes from 127.0.0.1 that is not a request.\n"},
        {Bytes{0, 1, 'i'}, 4, "CheckFilename:338 - Could not find filename in request.\n"},
        {TftpAck(3), 0, "Ignoring a datagram of 4 bytes"},
        {TftpRequest(1, std::string(9000, 'i'), "octet"), 0, "Ignoring a datagram of 9009 bytes"},
        {TftpRequest(1, "IMAGE", "octet"), 1, "CheckFilename:346 - Bad image name requested.\n"},
        {TftpRequest(2, "image", "octet"), 1, "CheckFilename:354 - Bad image name requested.\n"},
        {TftpRequest(1, "image", "netascii"), 4,
         "CheckFilename:378 - Bad transfer mode requested.\n"},
        {TftpRequest(2, "upload-image", "OCTET"), 4, "CheckFilename:378"},
        {Bytes{0, 2, 'u', 'p', 'l', 'o', 'a', 'd', '-', 'i', 'm', 'a', 'g', 'e', 0}, 4,
         "CheckFilename:374 - Could not find transfer mode in request.\n"},
    };
    LoadImage("config");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        ClearRecordedEvents();
        log.Clear();
        StartServer();
        TftpTestPeer stray(port);  // the device's address, another port
        stray.Send(c.datagram);
        const auto answer = stray.Receive(c.code != 0 ? 2000 : 100);
        if (c.code != 0) {
            ASSERT_TRUE(answer.has_value());
            EXPECT_EQ(answer->Opcode(), 5);
            EXPECT_EQ(answer->Field(), c.code);
        } else {
            EXPECT_FALSE(answer.has_value());
        }
        TftpTestPeer device(port);
        EXPECT_TRUE(device.Get("image").complete);
        EXPECT_EQ(FinishRun().Result, TftpRunResult::FileServed);
        EXPECT_TRUE(RecordedErrors().empty());
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
    TftpSettings.FirstRequestTimeoutMs = 300;  // a refused request leaves the run waiting
    for (const Case& c : cases) {
        StartServer();
        TftpTestPeer peer(port);
        peer.Send(TftpRequest(c.opcode, c.name, "octet"));
        const auto answer = peer.Receive(2000);
        EXPECT_EQ(FinishRun().Result, TftpRunResult::NoRequest);
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
    TftpBooking booking;
    EXPECT_EQ(BookSingleDeviceTransfer(3000, &booking), TftpReadiness::NotOpened);
    EXPECT_EQ(booking, nullptr);
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
    const std::uint32_t before = TftpRunsEnded();
    EXPECT_EQ(StartTftpServer(2), 1);
    EXPECT_EQ(IsTftpServerRunning(), 0);
    EXPECT_EQ(TftpRunsEnded(), before + 1) << "the run is over at once";
    EXPECT_EQ(LastTftpRunOutcome().Result, TftpRunResult::NoRequest);
    plat::InjectFailure(plat::Op::ThreadStart, 0, 1);
    TftpBooking booking;
    EXPECT_EQ(BookSingleDeviceTransfer(3000, &booking), TftpReadiness::NotOpened);
}

TEST_F(ServerRun, AnErrorPacketThatCannotBeSentIsLogged) {
    TftpSettings.FirstRequestTimeoutMs = 300;
    plat::InjectFailure(plat::Op::SendTo, 1, 1);  // the peer's request goes, the refusal fails
    StartServer();
    TftpTestPeer peer(port);
    peer.Send(TftpRequest(1, "other", "octet"));
    EXPECT_EQ(FinishRun().Result, TftpRunResult::NoRequest);
    EXPECT_TRUE(log.Contains("ERROR: nak errno=10000."));
}
