// The Backup command end to end: operator, device simulator, TFTP server, file.
#include "tests/app/command_fixture.h"

#include "platform/fault_injection.h"
#include "platform/files.h"
#include "spine/events.h"
#include "tftp/tftp_server.h"

namespace testing_support {
namespace {

using Backup = CommandAgainstSimulator;

TEST_F(Backup, StoresTheDeviceTextWithCrLfAndSaysSo) {
    const std::string text = "hostname lab-7\nip address 10.0.0.7\n";
    options.FactoryText = text;
    StartDevice();
    const std::string target = dir + "/lab7.cfg";
    RunBackup(target);

    EXPECT_EQ(IsTftpServerRunning(), 0);  // the next command starts a server of its own
    EXPECT_EQ(ReadWholeFile(target), "hostname lab-7\r\nip address 10.0.0.7\r\n");
    const ShownBox& box = OnlyBox();
    EXPECT_EQ(box.caption, "Backup complete");
    EXPECT_EQ(box.text, "The configuration has been backed up to: \r\n\t" + target);
    EXPECT_EQ(box.flags, 0x40u);
    EXPECT_EQ(dialog.beeps, 1);
    EXPECT_EQ(report.Result, CommandResult::Completed);
    EXPECT_EQ(report.Bytes, WithCrLf(text).size());
    EXPECT_EQ(DeviceRequests(),
              (std::vector<std::string>{"GET /", "GET /",
                                        "GET /cli?LIST+CHANGES+>+upload-image+HOST+127.0.0.1"}));
    EXPECT_TRUE(RecordedErrors().empty());
}

TEST_F(Backup, IntoMemoryKeepsTheTextAndTouchesNoFile) {
    options.FactoryText = "hostname in-memory\n";
    StartDevice();
    const std::string target = dir + "/never.cfg";
    std::string text;
    CommandSettings.BackupText = &text;
    RunBackup(target);
    CommandSettings.BackupText = nullptr;
    EXPECT_EQ(report.Result, CommandResult::Completed);
    EXPECT_EQ(text, "hostname in-memory\r\n");
    EXPECT_FALSE(plat::FileExists(target.c_str()));
    EXPECT_FALSE(plat::FileExists((target + kTemporarySuffix).c_str()));
}

TEST_F(Backup, ADeviceThatNeverSendsFailsWithoutTouchingTheOldBackup) {
    options.Faults.SkipTftp = true;
    StartDevice();
    const std::string target = dir + "/keep.cfg";
    WriteWholeFile(target, "previous backup\r\n");
    RunBackup(target);

    EXPECT_EQ(ReadWholeFile(target), "previous backup\r\n");
    const ShownBox& box = OnlyBox();
    EXPECT_EQ(box.caption, "Backup failed");
    EXPECT_EQ(box.text, "The configuration could not be backed up to: \r\n\t" + target +
                            "\r\nThe file has not been changed.");
    EXPECT_EQ(box.flags, 0x10u);
    EXPECT_EQ(report.Result, CommandResult::TransferFailed);
}

TEST_F(Backup, ATransferCutShortLeavesTheOldBackupWhole) {
    options.FactoryText = std::string(3000, 'x') + "\n";
    options.Tftp.SilentAfterSent = 3;  // WRQ and two blocks, then silence
    StartDevice();
    const std::string target = dir + "/keep.cfg";
    WriteWholeFile(target, "previous backup\r\n");
    RunBackup(target);

    EXPECT_EQ(ReadWholeFile(target), "previous backup\r\n");
    EXPECT_EQ(OnlyBox().caption, "Backup failed");
    EXPECT_EQ(report.Result, CommandResult::TransferFailed);
}

// More kinds of target in backup_target_tests.cpp; these two are refused on every platform.
TEST_F(Backup, ATargetThatCannotBeCreatedIsRefusedBeforeTheDeviceIsAsked) {
    StartDevice();
    for (const std::string& target : {dir + "/no-such-folder/x.cfg", dir}) {
        dialog.boxes.clear();
        RunBackup(target);
        EXPECT_EQ(OnlyBox().caption, "Backup not started");
        EXPECT_EQ(report.Result, CommandResult::FileUnusable);
    }
    EXPECT_NE(dialog.boxes.back().text.find("It is a directory"), std::string::npos);
    EXPECT_FALSE(plat::FileExists((dir + "/no-such-folder").c_str()));
    EXPECT_TRUE(DeviceRequests().empty());
}

TEST_F(Backup, RefusedCredentialsOnlyBeep) {
    options.Faults.RefuseCredentials = true;
    StartDevice();
    RunBackup(dir + "/x.cfg");
    EXPECT_TRUE(dialog.boxes.empty());
    EXPECT_EQ(dialog.beeps, 1);
    EXPECT_EQ(RecordedErrors(), std::vector<int>{ERR_CREDENTIALS});
    EXPECT_EQ(report.Result, CommandResult::DeviceCommandFailed);
    EXPECT_FALSE(plat::FileExists((dir + "/x.cfg").c_str()));
}

TEST_F(Backup, AnotherProductIsRefusedAfterTheSecondProbe) {
    options.ServerHeader = "Merrowin II";
    StartDevice();
    RunBackup(dir + "/x.cfg");
    const ShownBox& box = OnlyBox();
    EXPECT_EQ(box.text,
              "'127.0.0.1' is a Drennick Merrowin II.\r\nMorvane is not designed to extract "
              "configurations from the Merrowin II.\nPlease consult your documentation for further "
              "information");
    EXPECT_EQ(dialog.focusChanges, std::vector<int>{IDC_HOST});
    EXPECT_EQ(DeviceRequests(), (std::vector<std::string>{"GET /", "GET /"}));
    EXPECT_EQ(report.Result, CommandResult::Unsupported);
    // The target path was set before the probes, as the operator chose it.
    EXPECT_EQ(GetTargetPath(), dir + "/x.cfg");
}

TEST_F(Backup, AServerLeftWaitingByAnEarlierCommandTakesThisTransfer) {
    StartDevice();
    ASSERT_EQ(StartTftpServer(2), 1);
    for (int i = 0; i < 200 && !IsTftpServerRunning(); ++i) plat::SleepMs(5);
    ASSERT_EQ(IsTftpServerRunning(), 1);
    plat::ClearInjectedFailures();  // resets the call counts

    const std::string target = dir + "/x.cfg";
    RunBackup(target);
    EXPECT_EQ(plat::CallCount(plat::Op::ThreadStart), 1) << "the transfer's, and no second server";
    // Had the port test tried to bind, the running server's hold on the port would have failed
    // it, and the command would have ended with the warning box.
    EXPECT_TRUE(RecordedErrors().empty());
    EXPECT_EQ(OnlyBox().caption, "Backup complete");
    EXPECT_EQ(ReadWholeFile(target), WithCrLf(kDefaultFactoryText));
}

TEST_F(Backup, AServerThatCannotOpenItsPortIsShownWithItsCause) {
    StartDevice();
    plat::InjectFailure(plat::Op::Bind, 1, 1);  // the port test binds; the server's run does not
    RunBackup(dir + "/x.cfg");
    EXPECT_EQ(report.Result, CommandResult::PortUnavailable);
    EXPECT_EQ(RecordedErrors(), std::vector<int>{ERR_BIND}) << "the panel's cause";
    EXPECT_EQ(OnlyBox().caption, "Morvane TFTP Warning");
    EXPECT_EQ(dialog.beeps, 1);
    EXPECT_FALSE(plat::FileExists((dir + "/x.cfg").c_str()));
}

TEST_F(Backup, TwoBackupsInARowEachGetTheirOwnServerRun) {
    StartDevice();
    RunBackup(dir + "/one.cfg");
    RunBackup(dir + "/two.cfg");
    ASSERT_EQ(dialog.boxes.size(), 2u);
    EXPECT_EQ(dialog.boxes[0].caption, "Backup complete");
    EXPECT_EQ(dialog.boxes[1].caption, "Backup complete");
    EXPECT_EQ(ReadWholeFile(dir + "/two.cfg"), WithCrLf(kDefaultFactoryText));
}

}  // namespace
}  // namespace testing_support
