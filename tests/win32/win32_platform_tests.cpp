// Promises of the Win32 platform layer that only Windows can keep or break.
#include <gtest/gtest.h>

#include <array>
#include <string>

#include "platform/fault_injection.h"
#include "platform/files.h"
#include "platform/net.h"
#include "tests/support/test_support.h"

using namespace plat;

TEST(Win32Files, AFileOpenForReadingCannotBeRewrittenMeanwhile) {
    const std::string path = testing_support::MakeTempDir() + "\\held.cfg";
    testing_support::WriteWholeFile(path, "kept");
    const FileHandle reader = FileOpenRead(path.c_str());
    ASSERT_NE(reader, kNoFile);
    EXPECT_EQ(FileCreate(path.c_str()), kNoFile);  // no writer while the restore reads it
    const FileHandle secondReader = FileOpenRead(path.c_str());
    EXPECT_NE(secondReader, kNoFile);
    FileClose(secondReader);
    FileClose(reader);
    EXPECT_EQ(testing_support::ReadWholeFile(path), "kept");
    EXPECT_EQ(FileOpenRead((path + ".missing").c_str()), kNoFile);
    EXPECT_EQ(FileOpenRead(testing_support::MakeTempDir().c_str()), kNoFile);  // a folder
}

// A backup never replaces, and a password file is never read from, a device or a folder.
TEST(Win32Files, DeviceNamesAnywhereAndFoldersAreNoRegularFiles) {
    const std::string dir = testing_support::MakeTempDir();
    testing_support::WriteWholeFile(dir + "\\a.cfg", "password\r\n");
    for (const char* device : {"NUL", "nul.cfg", "C:\\any\\com1.cfg", "\\\\.\\pipe\\x"})
        EXPECT_EQ(NodeKindAt(device, false), NodeKind::CharDevice) << device;
    EXPECT_EQ(NodeKindAt(dir.c_str(), false), NodeKind::Directory);
    EXPECT_EQ(NodeKindAt((dir + "\\a.cfg").c_str(), false), NodeKind::RegularFile);
    EXPECT_EQ(NodeKindAt((dir + "\\none\\b.cfg").c_str(), false), NodeKind::Missing);

    std::array<std::uint8_t, 4> start{};
    EXPECT_EQ(FileReadStart("NUL", start), -1);
    EXPECT_EQ(FileReadStart(dir.c_str(), start), -1);
    EXPECT_EQ(FileReadStart((dir + "\\a.cfg").c_str(), start), 4);
}

TEST(Win32Datagrams, ADatagramToAClosedPortDoesNotFailTheNextReceive) {
    ASSERT_EQ(NetStartup(), 0);
    const SocketHandle server = UdpOpen();
    const SocketHandle peer = UdpOpen();
    ASSERT_TRUE(SocketBind(server, {kLoopbackAddress, 0}));
    ASSERT_TRUE(SocketBind(peer, {kLoopbackAddress, 0}));
    Ipv4Endpoint serverEnd{}, peerEnd{};
    SocketLocalAddress(server, &serverEnd);
    SocketLocalAddress(peer, &peerEnd);

    const std::array<std::uint8_t, 4> ack{0, 4, 0, 1};
    const std::uint16_t closedPort = testing_support::PickFreeUdpPort();
    EXPECT_EQ(SocketSendTo(server, ack, {kLoopbackAddress, closedPort}), 4);
    EXPECT_EQ(SocketSendTo(peer, ack, serverEnd), 4);
    std::array<std::uint8_t, 516> buffer{};
    Ipv4Endpoint from{};
    EXPECT_EQ(SocketRecvFrom(server, buffer, &from, 2000), 4);
    EXPECT_EQ(from, peerEnd);

    SocketClose(peer);
    SocketClose(server);
    NetCleanup();
    EXPECT_EQ(OpenSocketCount(), 0);
    EXPECT_EQ(NetStartupCount(), 0);
}
