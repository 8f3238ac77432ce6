// The platform layer's promises that the rest of the program leans on.
#include <gtest/gtest.h>

#include <vector>

#include "platform/fault_injection.h"
#include "platform/files.h"
#include "platform/net.h"
#include "platform/threads.h"
#include "tests/support/test_support.h"

using namespace plat;

namespace {

struct UdpPair {
    SocketHandle a = UdpOpen();
    SocketHandle b = UdpOpen();
    Ipv4Endpoint aEnd{}, bEnd{};
    UdpPair() {
        SocketBind(a, {kLoopbackAddress, 0});
        SocketBind(b, {kLoopbackAddress, 0});
        SocketLocalAddress(a, &aEnd);
        SocketLocalAddress(b, &bEnd);
    }
    ~UdpPair() {
        SocketClose(a);
        SocketClose(b);
    }
};

// Every case starts with nothing armed and every call count at zero, so the cases pass alike in
// one process and each in its own.
class PlatformCase : public ::testing::Test {
  protected:
    void SetUp() override { ClearInjectedFailures(); }
    void TearDown() override { ClearInjectedFailures(); }
};
using Datagrams = PlatformCase;
using Binding = PlatformCase;
using FaultInjection = PlatformCase;
using Resolve = PlatformCase;
using Files = PlatformCase;

}  // namespace

TEST_F(Datagrams, OversizedDatagramIsAFailedReceiveAndEmptyOneIsZero) {
    UdpPair p;
    std::vector<std::uint8_t> big(600, 7), buf(516);
    ASSERT_EQ(SocketSendTo(p.a, big, p.bEnd), 600);
    Ipv4Endpoint from{};
    EXPECT_EQ(SocketRecvFrom(p.b, buf, &from, 1000), kSocketError);
    ASSERT_EQ(SocketSendTo(p.a, std::span<const std::uint8_t>(), p.bEnd), 0);
    EXPECT_EQ(SocketRecvFrom(p.b, buf, &from, 1000), 0);
    EXPECT_EQ(from, p.aEnd);
    EXPECT_EQ(SocketRecvFrom(p.b, buf, &from, 20), kTimedOut);
}

// A bounded wait sets the socket's receive time-out behind its owner's back: a later wait without
// a bound keeps to the owner's own, and a socket opened on a closed one's handle starts with none
// (were the closed one's time-out still taken as set, the last receive would never end).
TEST_F(Datagrams, BoundedWaitsLeaveTheOwnersTimeOutAndNothingToTheNextSocket) {
    std::vector<std::uint8_t> buf(516);
    Ipv4Endpoint from{};
    const SocketHandle s = UdpOpen();
    ASSERT_TRUE(SocketBind(s, {kLoopbackAddress, 0}));
    ASSERT_TRUE(SocketSetRecvTimeout(s, 400));
    EXPECT_EQ(SocketRecvFrom(s, buf, &from, 60), kTimedOut);
    const std::uint64_t started = MonotonicMs();
    EXPECT_EQ(SocketRecvFrom(s, buf, &from, kWaitForever), kTimedOut);
    EXPECT_GE(MonotonicMs() - started, 390u);
    EXPECT_EQ(SocketRecvFrom(s, buf, &from, 60), kTimedOut);
    SocketClose(s);
    const SocketHandle again = UdpOpen();
    ASSERT_TRUE(SocketBind(again, {kLoopbackAddress, 0}));
    EXPECT_EQ(SocketRecvFrom(again, buf, &from, 60), kTimedOut);
    SocketClose(again);
}

TEST_F(Datagrams, PendingCountsWaitingBytes) {
    UdpPair p;
    std::vector<std::uint8_t> four(4, 1);
    EXPECT_EQ(SocketPending(p.b), 0);
    SocketSendTo(p.a, four, p.bEnd);
    for (int i = 0; i < 100 && SocketPending(p.b) == 0; ++i) SleepMs(10);
    EXPECT_GT(SocketPending(p.b), 0);
}

TEST_F(Binding, SecondBinderOfAPortFails) {
    const std::uint16_t port = testing_support::PickFreeUdpPort();
    SocketHandle first = UdpOpen(), second = UdpOpen();
    EXPECT_TRUE(SocketBind(first, {kAnyAddress, port}));
    EXPECT_FALSE(SocketBind(second, {kAnyAddress, port}));
    SocketClose(first);
    SocketClose(second);
    EXPECT_EQ(OpenSocketCount(), 0);
}

TEST_F(FaultInjection, SkipsThenFailsTheGivenCount) {
    InjectFailure(Op::NetStartup, 1, 2);
    EXPECT_EQ(NetStartup(), 0);
    EXPECT_NE(NetStartup(), 0);
    EXPECT_NE(NetStartup(), 0);
    EXPECT_EQ(NetStartup(), 0);
    NetCleanup();
    NetCleanup();
    EXPECT_EQ(CallCount(Op::NetStartup), 4);
    ClearInjectedFailures();
    EXPECT_EQ(NetStartupCount(), 0);
}

TEST_F(Resolve, DottedAddressesNeedNoLookupAndGarbageFails) {
    std::uint32_t a = 0;
    ASSERT_TRUE(ResolveIpv4("10.1.2.3", &a));
    EXPECT_EQ(FormatIpv4(a), "10.1.2.3");
    EXPECT_FALSE(ResolveIpv4("no-such-host.invalid", &a));
}

TEST_F(Files, ReplaceSwapsWholeFileAndCreateNewRefusesExisting) {
    const std::string dir = testing_support::MakeTempDir();
    const std::string target = dir + "/t.cfg", temp = dir + "/t.tmp";
    testing_support::WriteWholeFile(target, "old");
    FileHandle f = FileCreateNew(temp.c_str());
    ASSERT_NE(f, kNoFile);
    const std::uint8_t bytes[] = {'n', 'e', 'w'};
    std::uint32_t written = 0;
    EXPECT_TRUE(FileWrite(f, bytes, &written));
    EXPECT_EQ(written, 3u);
    EXPECT_TRUE(FileFlush(f));
    FileClose(f);
    EXPECT_EQ(FileCreateNew(temp.c_str()), kNoFile);
    EXPECT_TRUE(FileReplace(temp.c_str(), target.c_str()));
    EXPECT_EQ(testing_support::ReadWholeFile(target), "new");
    EXPECT_FALSE(FileExists(temp.c_str()));
}
