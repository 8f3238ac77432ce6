// The Restore command end to end: operator, device simulator, TFTP server, file.
#include "tests/app/command_fixture.h"

#include "spine/events.h"

namespace testing_support {
namespace {

using Restore = CommandAgainstSimulator;

TEST_F(Restore, FactoryResetThenExecuteThenRebootAndTheDeviceHoldsTheFile) {
    StartDevice();
    const std::string source = dir + "/saved.cfg";
    const std::string text = "hostname restored\r\nip address 10.1.1.1\r\n" + std::string(1500, '#');
    WriteWholeFile(source, text);
    testing_support::LogCapture log;
    RunRestore(source, true);

    EXPECT_EQ(IsTftpServerRunning(), 0);  // the server thread has finished before the reboot
    EXPECT_EQ(DeviceRequests(),
              (std::vector<std::string>{"GET /", "GET /", "GET /cli?INITIALIZE+FACTORY",
                                        "GET /cli?EXECUTE+image+HOST+127.0.0.1",
                                        "GET /cli?REBOOT"}));
    EXPECT_EQ(device->Configuration(), "hostname restored\nip address 10.1.1.1\n" +
                                           std::string(1500, '#'));
    ASSERT_EQ(dialog.boxes.size(), 2u);
    EXPECT_EQ(dialog.boxes[0].caption, "Initialise factory defaults first?");
    EXPECT_EQ(dialog.boxes[0].flags, 36u);
    EXPECT_EQ(dialog.boxes[1].caption, "Restore complete");
    EXPECT_EQ(dialog.boxes[1].text,
              "The configuration has been restored.\r\nThe server will be ready when it has "
              "completed rebooting");
    EXPECT_EQ(dialog.beeps, 1);
    EXPECT_EQ(report.Result, CommandResult::Completed);
    EXPECT_EQ(report.Bytes, text.size());
    EXPECT_TRUE(log.Contains("127.0.0.1:root:********\n"));
    EXPECT_FALSE(log.Contains("tundra"));
}

TEST_F(Restore, AnsweringNoSkipsTheFactoryReset) {
    StartDevice();
    const std::string source = dir + "/saved.cfg";
    WriteWholeFile(source, "");  // an empty file is a configuration too
    RunRestore(source, false);
    EXPECT_EQ(DeviceRequests(),
              (std::vector<std::string>{"GET /", "GET /", "GET /cli?EXECUTE+image+HOST+127.0.0.1",
                                        "GET /cli?REBOOT"}));
    EXPECT_EQ(dialog.boxes.back().caption, "Restore complete");
    EXPECT_EQ(device->Configuration(), "");
}

TEST_F(Restore, RefusedCredentialsAtTheFactoryStepSendNothingMore) {
    options.Faults.RefuseCredentials = true;
    StartDevice();
    const std::string source = dir + "/saved.cfg";
    WriteWholeFile(source, "x\n");
    RunRestore(source, true);
    EXPECT_EQ(DeviceRequests(),
              (std::vector<std::string>{"GET /", "GET /", "GET /cli?INITIALIZE+FACTORY"}));
    EXPECT_EQ(RecordedErrors(), std::vector<int>{ERR_CREDENTIALS});
    EXPECT_EQ(dialog.boxes.size(), 1u);  // only the question
    EXPECT_EQ(dialog.beeps, 1);
    EXPECT_EQ(report.Result, CommandResult::DeviceCommandFailed);
}

TEST_F(Restore, ADeviceThatNeverFetchesTheFileIsNotRebooted) {
    options.Faults.SkipTftp = true;
    StartDevice();
    const std::string source = dir + "/saved.cfg";
    WriteWholeFile(source, "x\n");
    RunRestore(source, false);
    EXPECT_EQ(DeviceRequests(),
              (std::vector<std::string>{"GET /", "GET /", "GET /cli?EXECUTE+image+HOST+127.0.0.1"}));
    const ShownBox& box = dialog.boxes.back();
    EXPECT_EQ(box.caption, "Restore failed");
    EXPECT_EQ(box.text,
              "The device did not receive the whole configuration file.\r\nIt has not been "
              "rebooted; please check its configuration before you try again.");
    EXPECT_EQ(box.flags, 0x10u);
    EXPECT_EQ(report.Result, CommandResult::TransferFailed);
}

// A device that falls silent mid-transfer has not got the file; one that only never acknowledges
// the last block may have it. Neither is rebooted, and each is told for what it is.
TEST_F(Restore, ATransferThatBreaksOffOrIsNeverConfirmedIsNotRebooted) {
    struct Case {
        int silentAfter;  // packets the device sends before it falls silent
        std::size_t size;
        const char* caption;
        CommandResult result;
        std::vector<int> errors;
    };
    const Case cases[] = {
        {2, 2000, "Restore failed", CommandResult::TransferFailed, {ERR_RECEIVE, ERR_READ_REQUEST}},
        {1, 100, "Restore not confirmed", CommandResult::TransferUnconfirmed, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.caption);
        options.Tftp.SilentAfterSent = c.silentAfter;
        StartDevice();
        const std::string source = dir + "/saved.cfg";
        WriteWholeFile(source, std::string(c.size, 'z'));
        ClearRecordedEvents();
        RunRestore(source, false);
        EXPECT_EQ(dialog.boxes.back().caption, c.caption);
        EXPECT_EQ(report.Result, c.result);
        EXPECT_EQ(DeviceRequests().back(), "GET /cli?EXECUTE+image+HOST+127.0.0.1");
        EXPECT_EQ(RecordedErrors(), c.errors);
        device->Stop();
    }
}

TEST_F(Restore, LostAndDuplicatedPacketsStillRestoreTheWholeFile) {
    options.Tftp.DropSent = {2, 4};
    options.Tftp.DuplicateSent = {3, 6};
    options.Tftp.DropReceived = {1};
    StartDevice();
    const std::string source = dir + "/saved.cfg";
    std::string text;
    for (int i = 0; i < 300; ++i) text += "line " + std::to_string(i) + "\n";
    WriteWholeFile(source, text);
    RunRestore(source, false);
    EXPECT_EQ(dialog.boxes.back().caption, "Restore complete");
    EXPECT_EQ(device->Configuration(), text);
}

TEST_F(Restore, AnotherProductIsNamedInTheBox) {
    options.ServerHeader = "Wendrake";
    StartDevice();
    const std::string source = dir + "/saved.cfg";
    WriteWholeFile(source, "x\n");
    dialog.fileAnswers.push_back(source);
    report = RunRestoreCommand(nullptr, &ConnectionSettings);
    ASSERT_EQ(dialog.boxes.size(), 1u);
    EXPECT_EQ(dialog.boxes[0].text,
              "'127.0.0.1' is a Drennick Merrowin II.\r\nMorvane is not designed to upload "
              "configurations into the Merrowin II.\nPlease consult your documentation for further "
              "information");
    EXPECT_EQ(report.Result, CommandResult::Unsupported);
}

TEST_F(Restore, CancelThenYesThenPickGoesOnWithThatFile) {
    StartDevice();
    const std::string source = dir + "/saved.cfg";
    WriteWholeFile(source, "hostname second-try\n");
    dialog.fileAnswers = {std::nullopt, source};
    dialog.boxAnswers = {plat::kIdYes, plat::kIdNo};
    DoRestore(nullptr, 0, &ConnectionSettings);
    EXPECT_EQ(dialog.boxes.back().caption, "Restore complete");
    EXPECT_EQ(device->Configuration(), "hostname second-try\n");
}

}  // namespace
}  // namespace testing_support
