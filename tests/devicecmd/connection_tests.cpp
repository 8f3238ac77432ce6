// ConnectToDevice: its failures, each with its event, its line and nothing left open.
#include <gtest/gtest.h>

#include "devicecmd/device_connection.h"
#include "platform/fault_injection.h"
#include "platform/threads.h"
#include "spine/events.h"
#include "tests/devicecmd/channel_fixture.h"

using plat::Op;

namespace {

class Connection : public ChannelTest {};

// A listener whose accept queue is full: further handshakes go unanswered.
struct UnansweringListener {
    plat::SocketHandle listener = plat::TcpOpen();
    std::vector<plat::SocketHandle> queued;
    std::uint16_t port = 0;
    UnansweringListener() {
        plat::SocketBind(listener, {plat::kLoopbackAddress, 0});
        plat::SocketListen(listener, 0);
        plat::Ipv4Endpoint local{};
        plat::SocketLocalAddress(listener, &local);
        port = local.port;
        for (int i = 0; i < 4; ++i) {  // fill the queue; connects past it run into the time-out
            const plat::SocketHandle s = plat::TcpOpen();
            if (!plat::SocketConnect(s, {plat::kLoopbackAddress, port}, 300)) {
                plat::SocketClose(s);
                break;
            }
            queued.push_back(s);
        }
    }
    ~UnansweringListener() {
        for (auto s : queued) plat::SocketClose(s);
        plat::SocketClose(listener);
    }
};

}  // namespace

TEST_F(Connection, StartupFailureIsReportedAndNothingElseHappens) {
    plat::InjectFailure(Op::NetStartup);
    EXPECT_EQ(ConnectToDevice("127.0.0.1", 1), plat::kNoSocket);
    EXPECT_EQ(Errors(), std::vector<int>{ERR_SOCKETS_SETUP});
    EXPECT_EQ(Printed(), "Error in WSAStartup() call [errno=10000]\n");
    ExpectAllReleased();
}

TEST_F(Connection, ResolveFailureCreatesNoSocket) {
    plat::InjectFailure(Op::Resolve);
    EXPECT_EQ(ConnectToDevice("device.example", 1), plat::kNoSocket);
    EXPECT_EQ(Errors(), std::vector<int>{ERR_RESOLVE});
    EXPECT_EQ(Printed(),
              "Resolving Drennick server device.example.\n"
              "ERROR: invalid network name device.example.\n");
    EXPECT_EQ(plat::CallCount(Op::SocketOpen), 0);
    EXPECT_EQ(Events()[0].printedBefore, "Resolving Drennick server device.example.\n")
        << "the event comes before its line";
    ExpectAllReleased();
}

TEST_F(Connection, SocketFailureIsReportedAsAConnectFailure) {
    plat::InjectFailure(Op::SocketOpen);
    EXPECT_EQ(ConnectToDevice("127.0.0.1", 0), plat::kNoSocket);
    EXPECT_EQ(Errors(), std::vector<int>{ERR_CONNECT});
    EXPECT_TRUE(log_.Contains("Error in socket() call [errno=10000]\n"));
    ExpectAllReleased();
}

TEST_F(Connection, EitherTimeoutFailurePrintsTheSameLineAndClosesTheSocket) {
    for (int skip : {0, 1}) {  // the receive time-out, then the send time-out
        SCOPED_TRACE(skip);
        plat::ClearInjectedFailures();
        log_.Clear();
        plat::InjectFailure(Op::SetTimeout, skip);
        EXPECT_EQ(ConnectToDevice("127.0.0.1", 1), plat::kNoSocket);
        EXPECT_EQ(plat::CallCount(Op::SetTimeout), skip + 1)
            << "a failed receive time-out skips the send one";
        EXPECT_TRUE(log_.Contains("Failed to set recv timeout: 10000\n"));
        EXPECT_EQ(plat::CallCount(Op::Connect), 0);
        ExpectAllReleased();
    }
    EXPECT_EQ(Errors(), (std::vector<int>{ERR_TFTP_SOCKET, ERR_TFTP_SOCKET}));
}

TEST_F(Connection, RefusedPortGivesConnectErrorAndClosesTheSocket) {
    DeviceSettings.Port = testing_support::PickFreeTcpPort();
    EXPECT_EQ(ConnectToDevice("127.0.0.1", 0), plat::kNoSocket);
    EXPECT_EQ(Errors(), std::vector<int>{ERR_CONNECT});
    EXPECT_TRUE(log_.Contains("Error in connect() call [errno="));
    EXPECT_EQ(plat::CallCount(Op::SetTimeout), 0)
        << "a command connection gets no socket time-outs";
    ExpectAllReleased();
}

TEST_F(Connection, AnUnansweredHandshakeEndsAtTheConnectTimeout) {
    {
        UnansweringListener silent;
        ASSERT_FALSE(silent.queued.empty());
        DeviceSettings.Port = silent.port;
        DeviceSettings.ConnectTimeoutMs = 300;
        const std::uint64_t start = plat::MonotonicMs();
        EXPECT_EQ(ConnectToDevice("127.0.0.1", 1), plat::kNoSocket);
        EXPECT_LT(plat::MonotonicMs() - start, 30000u) << "bounded by the setting, not the system";
        EXPECT_EQ(Errors(), std::vector<int>{ERR_CONNECT});
    }
    ExpectAllReleased();
}

TEST_F(Connection, SuccessHandsOverOneSocketAndOneStartup) {
    plat::SocketHandle listener = plat::TcpOpen();
    plat::SocketBind(listener, {plat::kLoopbackAddress, 0});
    plat::SocketListen(listener, 1);
    plat::Ipv4Endpoint local{};
    plat::SocketLocalAddress(listener, &local);
    DeviceSettings.Port = local.port;
    {
        const DeviceConnection c(ConnectToDevice("127.0.0.1", 1));
        ASSERT_TRUE(c.IsOpen());
        EXPECT_EQ(plat::NetStartupCount(), 1);
        EXPECT_EQ(plat::OpenSocketCount(), 2);
        EXPECT_EQ(Printed(), "Resolving Drennick server 127.0.0.1.\n") << "nothing else on success";
    }
    plat::SocketClose(listener);
    EXPECT_TRUE(Events().empty());
    ExpectAllReleased();
}
