// The Backup and Restore commands before they reach the device: the port test, the fields, the
// file choice, the restore file. No device answers here; a command that gets further than it
// should would show it in the recorded calls.
#include <gtest/gtest.h>

#include "app/command_report.h"
#include "app/commands.h"
#include "app/config_file_hooks.h"
#include "app/dialog_ids.h"
#include "devicecmd/device_settings.h"
#include "platform/fault_injection.h"
#include "platform/net.h"
#include "spine/events.h"
#include "spine/shared_state.h"
#include "spine/transfer_hooks.h"
#include "tests/support/scripted_dialog.h"
#include "tests/support/test_support.h"
#include "tftp/tftp_settings.h"

using testing_support::ScriptedDialog;

namespace {

class CommandValidation : public ::testing::Test {
protected:
    void SetUp() override {
        RegisterTransferHooks(CheckFilename, DownloadConfig, UploadConfig, nullptr, nullptr);
        testing_support::InstallRecordingReporters();
        testing_support::ClearRecordedEvents();
        TftpSettings.Port = testing_support::PickFreeUdpPort();
        // Nothing listens here: a command that reaches the device fails to connect.
        DeviceSettings.Port = testing_support::PickFreeTcpPort();
        DeviceSettings.ConnectTimeoutMs = 500;
        dialog.fields[IDC_HOST] = "127.0.0.1";
        dialog.fields[IDC_USERNAME] = "root";
        dialog.fields[IDC_PASSWORD] = "tundra";
        testing_support::InstallScriptedDialog(dialog);
        dir = testing_support::MakeTempDir();
    }
    void TearDown() override { plat::ClearInjectedFailures(); }

    ScriptedDialog dialog;
    std::string dir;
};

TEST_F(CommandValidation, BackupWarnsWhenAnotherProgramHoldsTheTftpPort) {
    const plat::SocketHandle holder = plat::UdpOpen();
    ASSERT_TRUE(plat::SocketBind(holder, {plat::kAnyAddress, TftpSettings.Port}));
    testing_support::LogCapture log;
    const CommandReport report = RunBackupCommand(nullptr, &ConnectionSettings);
    plat::SocketClose(holder);

    ASSERT_EQ(dialog.boxes.size(), 1u);
    EXPECT_EQ(dialog.boxes[0].caption, "Morvane TFTP Warning");
    EXPECT_EQ(dialog.boxes[0].flags, 0x10u);
    EXPECT_EQ(dialog.beeps, 0);
    EXPECT_EQ(testing_support::RecordedErrors(), std::vector<int>{ERR_BIND});
    EXPECT_TRUE(log.Contains("Error, could not open the TFTP port.\n"));
    EXPECT_EQ(report.Result, CommandResult::PortUnavailable);
    EXPECT_TRUE(dialog.fileDialogs.empty());
}

TEST_F(CommandValidation, RestoreShowsNoBoxOfItsOwnWhenThePortIsHeld) {
    plat::InjectFailure(plat::Op::Bind, 0, plat::kAlways);
    const CommandReport report = RunRestoreCommand(nullptr, &ConnectionSettings);
    EXPECT_TRUE(dialog.boxes.empty());
    EXPECT_EQ(testing_support::RecordedErrors(), std::vector<int>{ERR_BIND});
    EXPECT_EQ(report.Result, CommandResult::PortUnavailable);
}

TEST_F(CommandValidation, EmptyHostIsAskedForFirstThenEmptyUserName) {
    dialog.fields[IDC_HOST] = "";
    dialog.fields[IDC_USERNAME] = "";
    EXPECT_EQ(RunBackupCommand(nullptr, &ConnectionSettings).Result, CommandResult::Declined);
    ASSERT_EQ(dialog.boxes.size(), 1u);
    EXPECT_EQ(dialog.boxes[0].text,
              "You do not seem to have specified an Tavio to Backup.\nPlease enter the Tavio's IP "
              "Address.");
    EXPECT_EQ(dialog.boxes[0].caption, "Error: No IP Address.");
    EXPECT_EQ(dialog.calls, (std::vector<std::string>{"beep 64", "box Error: No IP Address.",
                                                      "focus 1000"}));

    ScriptedDialog second;
    second.fields = {{IDC_HOST, "10.1.1.1"}, {IDC_USERNAME, ""}, {IDC_PASSWORD, ""}};
    testing_support::InstallScriptedDialog(second);
    DoRestore(nullptr, 0, &ConnectionSettings);
    ASSERT_EQ(second.boxes.size(), 1u);
    EXPECT_EQ(second.boxes[0].caption, "Error: No username.");
    EXPECT_EQ(second.focusChanges, std::vector<int>{IDC_USERNAME});
    EXPECT_STREQ(ConnectionSettings.Host, "10.1.1.1");
}

TEST_F(CommandValidation, FieldsAreTakenWithinTheirLimitsAndUntrimmed) {
    dialog.fields[IDC_HOST] = std::string(128, 'h');
    dialog.fields[IDC_USERNAME] = " admin ";
    dialog.fileAnswers = {std::nullopt};
    dialog.boxAnswers = {plat::kIdCancel};
    DoBackup(nullptr, 0, &ConnectionSettings);
    EXPECT_EQ(std::string(ConnectionSettings.Host), std::string(127, 'h'));
    EXPECT_STREQ(ConnectionSettings.UserName, " admin ");
}

TEST_F(CommandValidation, NoFileChosenAsksAgainWithABeepEachTimeUntilNo) {
    testing_support::LogCapture log;
    dialog.fields[IDC_FILENAME] = "left over";
    dialog.fileAnswers = {std::nullopt, std::nullopt};
    dialog.boxAnswers = {plat::kIdYes, plat::kIdNo};
    const CommandReport report = RunBackupCommand(nullptr, &ConnectionSettings);

    EXPECT_EQ(dialog.fileDialogs.size(), 2u);
    ASSERT_EQ(dialog.boxes.size(), 2u);
    EXPECT_EQ(dialog.boxes[1].text,
              "You do not seem to have specified a filneme. Do you wish browse for one now?");
    EXPECT_EQ(dialog.boxes[1].flags, 0x43u);
    EXPECT_EQ(dialog.beeps, 2);
    EXPECT_TRUE(dialog.focusChanges.empty());
    EXPECT_EQ(dialog.fields[IDC_FILENAME], "");
    EXPECT_EQ(report.Result, CommandResult::Declined);
    // The diagnostic line names host and user but never the password.
    EXPECT_TRUE(log.Contains("127.0.0.1:root:********\n"));
    EXPECT_FALSE(log.Contains("tundra"));
}

TEST_F(CommandValidation, FileDialogsCarryTheirSettings) {
    dialog.fileAnswers = {std::nullopt};
    dialog.boxAnswers = {plat::kIdCancel};
    DoBackup(nullptr, 0, &ConnectionSettings);
    ScriptedDialog restore;
    restore.fields = dialog.fields;
    restore.fileAnswers = {std::nullopt};
    restore.boxAnswers = {plat::kIdNo};
    testing_support::InstallScriptedDialog(restore);
    DoRestore(nullptr, 0, &ConnectionSettings);

    const plat::FileDialogSettings& save = dialog.fileDialogs.at(0);
    EXPECT_TRUE(save.save);
    EXPECT_STREQ(save.title, "Choose a config filename to backup to...");
    EXPECT_EQ(save.flags, 2054u);
    EXPECT_STREQ(save.defaultExtension, "cfg");
    static constexpr char kFilter[] = "Config File (*.CFG)\0*.CFG\0All\0*.*\0";
    EXPECT_EQ(std::string(save.filter, sizeof kFilter), std::string(kFilter, sizeof kFilter));
    const plat::FileDialogSettings& open = restore.fileDialogs.at(0);
    EXPECT_FALSE(open.save);
    EXPECT_STREQ(open.title, "Choose a config filename to restore from...");
    EXPECT_EQ(open.flags, 6148u);
}

TEST_F(CommandValidation, RestoreOfAFileThatCannotBeOpenedFocusesTheFileField) {
    const std::string missing = dir + "/gone.cfg";
    dialog.fileAnswers = {missing};
    const CommandReport report = RunRestoreCommand(nullptr, &ConnectionSettings);
    ASSERT_EQ(dialog.boxes.size(), 1u);
    EXPECT_EQ(dialog.boxes[0].text,
              "The file \"" + missing + "\" could not be opened. \r\n Please check the filename.");
    EXPECT_EQ(dialog.focusChanges, std::vector<int>{IDC_FILENAME});
    EXPECT_EQ(report.Result, CommandResult::FileUnusable);
}

TEST_F(CommandValidation, RestoreOfAnUnreadableFileOnlyBeepsAndSendsNothing) {
    const std::string file = dir + "/conf.cfg";
    testing_support::WriteWholeFile(file, "hostname x\n");
    dialog.fileAnswers = {file};
    plat::InjectFailure(plat::Op::FileRead);
    const CommandReport report = RunRestoreCommand(nullptr, &ConnectionSettings);
    EXPECT_TRUE(dialog.boxes.empty());
    EXPECT_EQ(dialog.beeps, 1);
    EXPECT_EQ(plat::CallCount(plat::Op::Connect), 0);
    EXPECT_EQ(report.Result, CommandResult::FileUnusable);
}

TEST_F(CommandValidation, AHostThatDoesNotAnswerIsNotATavio) {
    const std::string file = dir + "/conf.cfg";
    testing_support::WriteWholeFile(file, "hostname x\n");
    dialog.fileAnswers = {file};
    const CommandReport report = RunRestoreCommand(nullptr, &ConnectionSettings);
    ASSERT_EQ(dialog.boxes.size(), 1u);
    EXPECT_EQ(dialog.boxes[0].text,
              "'127.0.0.1' does not seem to be a Drennick Tavio.\r\nPlease check IP Addres is "
              "correct.");
    EXPECT_EQ(dialog.boxes[0].caption, "Check for Tavio Failed");
    EXPECT_EQ(dialog.focusChanges, std::vector<int>{IDC_HOST});
    EXPECT_EQ(testing_support::RecordedErrors(), std::vector<int>{ERR_CONNECT});
    EXPECT_EQ(report.Result, CommandResult::NotTavio);
}

}  // namespace
