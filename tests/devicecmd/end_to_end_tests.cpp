// Backup- and restore-shaped exchanges, end to end: the probe, the device commands, the device's
// TFTP transfer with the utility's own server, and what lands on disk and in the device.
#include <gtest/gtest.h>

#include <algorithm>

#include "app/config_file_hooks.h"
#include "devicecmd/cli_commands.h"
#include "devicecmd/server_probe.h"
#include "spine/events.h"
#include "tests/devicecmd/end_to_end_fixture.h"
#include "tftp/tftp_booking.h"
#include "tftp/tftp_outcome.h"
#include "tftp/tftp_server.h"

namespace {

class Exchange : public EndToEndTest {
  protected:
    bool Saw(int status) const {
        const auto s = Statuses();
        return std::find(s.begin(), s.end(), status) != s.end();
    }
};

}  // namespace

TEST_F(Exchange, BackupStoresTheDevicesConfigurationWithCrLfLineEnds) {
    const std::string config = ConfigText(60);  // several blocks, the last one short
    options_.FactoryText = config;
    StartSim();
    const std::string target = dir_ + "/backup.cfg";

    EXPECT_EQ(ProbeServerType("127.0.0.1"), SERVER_TAVIO);
    EXPECT_EQ(ProbeServerType("127.0.0.1"), SERVER_TAVIO);
    SetTargetPath(target.c_str());
    TftpBooking booking;
    ASSERT_EQ(BookSingleDeviceTransfer(3000, &booking), TftpReadiness::Ready);
    EXPECT_EQ(SendListChangesCommand(), 1);
    const TftpRunOutcome outcome = AwaitTftpBooking(booking, 5000);
    EXPECT_EQ(outcome.Result, TftpRunResult::FileStored);

    EXPECT_EQ(testing_support::ReadWholeFile(target), WithCrLf(config));
    EXPECT_TRUE(Errors().empty());
    EXPECT_TRUE(Saw(STATUS_COMMAND_DONE));
    EXPECT_TRUE(Saw(STATUS_SERVER_DONE));
    const auto transfers = sim_->Transfers();
    ASSERT_EQ(transfers.size(), 1u);
    EXPECT_EQ(transfers[0].rfind("WRQ upload-image 127.0.0.1:", 0), 0u) << transfers[0];
    EXPECT_NE(transfers[0].find(" ok: "), std::string::npos) << transfers[0];

    sim_->Stop();
    ASSERT_TRUE(WaitForServerEnd());
    ExpectAllReleased();
}

TEST_F(Exchange, RestoreResetsExecutesTheServedFileAndReboots) {
    options_.FactoryText = "hostname factory\n";
    testing_support::WriteWholeFile(options_.StatePath, "hostname before\n");
    StartSim();
    const std::string restored = ConfigText(40);
    const std::string file = dir_ + "/restore.cfg";
    testing_support::WriteWholeFile(file, WithCrLf(restored));
    ASSERT_EQ(LoadFileImage(file.c_str()), 1);

    EXPECT_EQ(ProbeServerType("127.0.0.1"), SERVER_TAVIO);
    EXPECT_EQ(ProbeServerType("127.0.0.1"), SERVER_TAVIO);
    EnsureTftpServer();
    EXPECT_EQ(SendFactoryResetCommand(), 1);
    EXPECT_EQ(sim_->Configuration(), "hostname factory\n");
    EXPECT_EQ(SendExecuteCommand(), 1);
    ASSERT_TRUE(WaitForServerEnd());
    EXPECT_EQ(SendRebootCommand(), 1);

    EXPECT_EQ(sim_->Configuration(), restored) << "applied with LF line ends";
    EXPECT_EQ(sim_->Requests(),
              (std::vector<std::string>{
                  "GET / HTTP/1.0", "GET / HTTP/1.0", "GET /cli?INITIALIZE+FACTORY HTTP/1.0",
                  "GET /cli?EXECUTE+image+HOST+127.0.0.1 HTTP/1.0", "GET /cli?REBOOT HTTP/1.0"}));
    EXPECT_TRUE(Errors().empty());
    const auto statuses = Statuses();
    EXPECT_EQ(std::count(statuses.begin(), statuses.end(), STATUS_COMMAND_DONE), 3);
    EXPECT_TRUE(Saw(STATUS_PROGRESS));
    EXPECT_TRUE(Saw(STATUS_SERVER_DONE));
    sim_->Stop();
    ExpectAllReleased();
}

TEST_F(Exchange, LostAndDoubledPacketsStillGiveTheWholeFileBothWays) {
    // Backup: block 2 is lost once (the device sends it again) and block 1 arrives twice.
    options_.FactoryText = ConfigText(50);
    options_.Tftp.DropSent = {2};
    options_.Tftp.DuplicateSent = {1};
    StartSim();
    const std::string target = dir_ + "/backup.cfg";
    SetTargetPath(target.c_str());
    TftpBooking booking;
    ASSERT_EQ(BookSingleDeviceTransfer(3000, &booking), TftpReadiness::Ready);
    EXPECT_EQ(SendListChangesCommand(), 1);
    EXPECT_EQ(AwaitTftpBooking(booking, 5000).Result, TftpRunResult::FileStored);
    EXPECT_EQ(testing_support::ReadWholeFile(target), WithCrLf(options_.FactoryText));
    ASSERT_TRUE(WaitForServerEnd());
    sim_->Stop();

    // Restore: the device's ACK of block 1 is lost (the server sends block 1 again) and the
    // first copy of block 2 is ignored on arrival.
    options_.Tftp.DropSent = {1};
    options_.Tftp.DuplicateSent = {};
    options_.Tftp.DropReceived = {1};
    StartSim();
    const std::string file = dir_ + "/restore.cfg";
    testing_support::WriteWholeFile(file, WithCrLf(ConfigText(45)));
    ASSERT_EQ(LoadFileImage(file.c_str()), 1);
    ASSERT_EQ(BookSingleDeviceTransfer(3000, &booking), TftpReadiness::Ready);
    EXPECT_EQ(SendExecuteCommand(), 1);
    EXPECT_EQ(AwaitTftpBooking(booking, 5000).Result, TftpRunResult::FileServed);
    EXPECT_EQ(sim_->Configuration(), ConfigText(45));
    EXPECT_TRUE(Errors().empty());
}

TEST_F(Exchange, ADeviceFallingSilentMidTransferLeavesNoBackupAndTheCommandEnds) {
    options_.FactoryText = ConfigText(50);
    options_.Tftp.SilentAfterSent = 2;  // the request and block 1, then nothing
    options_.Tftp.MaxRetransmits = 2;
    StartSim();
    const std::string target = dir_ + "/backup.cfg";
    SetTargetPath(target.c_str());
    TftpBooking booking;
    ASSERT_EQ(BookSingleDeviceTransfer(3000, &booking), TftpReadiness::Ready);
    EXPECT_EQ(SendListChangesCommand(), 1);
    EXPECT_EQ(AwaitTftpBooking(booking, 5000).Result, TftpRunResult::Failed);
    EXPECT_FALSE(plat::FileExists(target.c_str()));
    const auto transfers = sim_->Transfers();
    ASSERT_EQ(transfers.size(), 1u);
    EXPECT_NE(transfers[0].find("failed: went silent"), std::string::npos) << transfers[0];
    ASSERT_TRUE(WaitForServerEnd());
    sim_->Stop();
    ExpectAllReleased();
}
