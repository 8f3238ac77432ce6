// Whole commands against the simulated device while another host on the network tries to take
// the transfer, and a device that sends its request at once and only once.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/log.h"
#include "tests/app/command_fixture.h"
#include "tests/tftp/tftp_test_peer.h"

using namespace testing_support;

namespace {

class DeviceTrust : public CommandAgainstSimulator {};

const Bytes kAccessViolation{0,   5,   0,   2,   'A', 'c', 'c', 'e', 's', 's', ' ',
                             'v', 'i', 'o', 'l', 'a', 't', 'i', 'o', 'n', 0};

// A host beside the device: from 127.0.0.9 it sends the given datagrams to the server in turn,
// one every 10 ms, on a thread of its own from the moment it is made, and keeps every answer
// until Stop() returns them.
class ForeignPeer {
  public:
    ForeignPeer(std::uint16_t serverPort, std::vector<Bytes> datagrams)
        : socket_(plat::UdpOpen()), thread_([this, serverPort, datagrams] {
              plat::SocketBind(socket_, plat::Ipv4Endpoint{0x7f000009, 0});  // 127.0.0.9
              Bytes buffer(65536);
              for (std::size_t i = 0; running_; ++i) {
                  plat::SocketSendTo(socket_, datagrams[i % datagrams.size()],
                                     plat::Ipv4Endpoint{plat::kLoopbackAddress, serverPort});
                  plat::Ipv4Endpoint from{};
                  const int n = plat::SocketRecvFrom(socket_, buffer, &from, 10);
                  if (n < 0) continue;
                  std::lock_guard lock(lock_);
                  answers_.emplace_back(buffer.begin(), buffer.begin() + n);
              }
          }) {}
    ~ForeignPeer() {
        Stop();
        plat::SocketClose(socket_);
    }
    ForeignPeer(const ForeignPeer&) = delete;
    ForeignPeer& operator=(const ForeignPeer&) = delete;

    std::vector<Bytes> Stop() {
        running_ = false;
        if (thread_.joinable()) thread_.join();
        std::lock_guard lock(lock_);
        return answers_;
    }

  private:
    plat::SocketHandle socket_;
    std::atomic<bool> running_{true};
    std::mutex lock_;
    std::vector<Bytes> answers_;
    std::thread thread_;  // last: starts once everything it uses exists
};

// A server thread slow to open its socket, as on a loaded machine: its first line stalls it.
void SlowServerStart(std::string_view text) {
    if (text.find("tftp server thread started") != std::string_view::npos) plat::SleepMs(30);
}

}  // namespace

// While the device takes its time, a stranger sends the request the device will send, and
// datagrams that would end the server's wait if they came from the device.
TEST_F(DeviceTrust, AnotherHostCanNeitherTakeNorEndTheTransferOfABackupOrARestore) {
    if (!LoopbackAliasesKeepTheirAddress()) GTEST_SKIP() << "127.0.0.9 is sent from 127.0.0.1 here";
    struct Case {
        const char* command;
        Bytes forged;
    };
    const Case cases[] = {{"backup", TftpRequest(2, "upload-image", "octet")},
                          {"restore", TftpRequest(1, "image", "octet")}};
    options.CommandDelayMs = 300;
    options.FactoryText = "device text\n";
    StartDevice();
    const std::string backup = dir + "/backup.cfg";
    const std::string restore = dir + "/restore.cfg";
    WriteWholeFile(restore, "restored text\r\n");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        ForeignPeer stranger(tftpPort, {c.forged, Bytes{}, Bytes(600, 1), TftpAck(1)});
        if (c.command == std::string("backup"))
            RunBackup(backup);
        else
            RunRestore(restore, false);
        const std::vector<Bytes> answers = stranger.Stop();
        EXPECT_EQ(report.Result, CommandResult::Completed);
        int refusals = 0;
        for (const Bytes& answer : answers) {
            ASSERT_GE(answer.size(), 4u);
            EXPECT_EQ(answer[1], 5) << "the stranger gets errors only, never an ACK or a block";
            refusals += answer == kAccessViolation ? 1 : 0;
        }
        EXPECT_GT(refusals, 3);
    }
    EXPECT_EQ(ReadWholeFile(backup), "device text\r\n");
    EXPECT_NE(device->Transfers().back().find(" ok: received 15 bytes"), std::string::npos)
        << device->Transfers().back();
}

// A stranger refused while the command waited does not become the cause of the device's own
// transfer breaking off later: that transfer says why it ended.
TEST_F(DeviceTrust, ATransferThatBreaksOffAfterARefusalGivesItsOwnCause) {
    if (!LoopbackAliasesKeepTheirAddress()) GTEST_SKIP() << "127.0.0.9 is sent from 127.0.0.1 here";
    options.CommandDelayMs = 300;
    options.Tftp.SilentAfterSent = 2;  // the request and the first of three blocks
    options.FactoryText = std::string(1200, 'x') + "\n";
    StartDevice();
    ForeignPeer stranger(tftpPort, {TftpRequest(2, "upload-image", "octet")});
    RunBackup(dir + "/backup.cfg");
    stranger.Stop();
    EXPECT_NE(report.Result, CommandResult::Completed);
    EXPECT_EQ(CauseLine(report.Cause),
              "127.0.0.1: tftp: the transfer broke off: no DATA block-2 within 1500 ms");
}

TEST_F(DeviceTrust, BackupsInARowFromADeviceThatAsksOnceAndAtOnce) {
    options.Tftp.RequestOnce = true;
    StartDevice();
    plat::SetLogSink(SlowServerStart);
    int completed = 0;
    for (int i = 0; i < 20; ++i) {
        RunBackup(dir + "/backup.cfg");
        completed += report.Result == CommandResult::Completed ? 1 : 0;
    }
    plat::SetLogSink(nullptr);
    EXPECT_EQ(completed, 20);
}
