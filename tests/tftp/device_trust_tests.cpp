// Whole commands against the simulated device while another host on the network tries to take
// the transfer, and a device that sends its request at once and only once.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "platform/log.h"
#include "tests/app/command_fixture.h"
#include "tests/tftp/foreign_peer.h"

using namespace testing_support;

namespace {

class DeviceTrust : public CommandAgainstSimulator {};

bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// A server thread slow to open its socket, as on a loaded machine: its first line stalls it.
void SlowServerStart(std::string_view text) {
    if (text.find("tftp server thread started") != std::string_view::npos) plat::SleepMs(30);
}

}  // namespace

// While the device takes its time, a stranger sends the request the device will send, and
// datagrams that would end the server's wait if they came from the device.
TEST_F(DeviceTrust, AnotherHostCanNeitherTakeNorEndTheTransferOfABackupOrARestore) {
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
        EXPECT_EQ(LastCommandReport.Result, CommandResult::Completed);
        int refusals = 0;
        for (const Bytes& answer : answers) {
            ASSERT_GE(answer.size(), 4u);
            EXPECT_EQ(answer[1], 5) << "the stranger gets errors only, never an ACK or a block";
            refusals += answer == kAccessViolation ? 1 : 0;
        }
        EXPECT_GT(refusals, 3);
    }
    EXPECT_EQ(ReadWholeFile(backup), "device text\r\n");
    EXPECT_TRUE(EndsWith(device->Transfers().back(), " ok: received 15 bytes"))
        << device->Transfers().back();
}

TEST_F(DeviceTrust, BackupsInARowFromADeviceThatAsksOnceAndAtOnce) {
    options.Tftp.RequestOnce = true;
    StartDevice();
    plat::SetLogSink(SlowServerStart);
    int completed = 0;
    for (int i = 0; i < 20; ++i) {
        RunBackup(dir + "/backup.cfg");
        completed += LastCommandReport.Result == CommandResult::Completed ? 1 : 0;
    }
    plat::SetLogSink(nullptr);
    EXPECT_EQ(completed, 20);
}
