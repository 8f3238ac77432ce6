// The Restore command end to end: operator, device simulator, TFTP server, file.
#include "tests/app/command_fixture.h"

#include "app/device_backup.h"
#include "platform/files.h"
#include "spine/events.h"
#include "tftp/tftp_dally.h"

#include <algorithm>
#include <functional>

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
    WriteWholeFile(source, "hostname kept\n");
    RunRestore(source, false);
    EXPECT_EQ(DeviceRequests(),
              (std::vector<std::string>{"GET /", "GET /", "GET /cli?EXECUTE+image+HOST+127.0.0.1",
                                        "GET /cli?REBOOT"}));
    EXPECT_EQ(dialog.boxes.back().caption, "Restore complete");
    EXPECT_EQ(device->Configuration(), "hostname kept\n");
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
// the last block may have it, and when its configuration cannot be read back either, nobody
// knows. Neither is rebooted, and each is told for what it is.
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
        const std::vector<std::string> requests = DeviceRequests();
        EXPECT_EQ(std::count(requests.begin(), requests.end(), "GET /cli?REBOOT"), 0);
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

namespace testing_support {
namespace {

// What a restore looks at before it sends the file, and what it needs to know afterwards before
// it reboots the device: each row one device, one file, one way for the restore to end.
TEST_F(Restore, ItRebootsOnlyADeviceKnownToHoldTheWholeFile) {
    const std::string execute = "GET /cli?EXECUTE+image+HOST+127.0.0.1";
    const std::string list = "GET /cli?LIST+CHANGES+>+upload-image+HOST+127.0.0.1";
    struct Case {
        const char* name;
        std::string text;
        std::function<void(SimOptions&)> device;
        bool verify;
        CommandResult result;
        std::string lastBox;                  // caption; "" for none beyond the factory question
        std::vector<std::string> requestTail;  // the last requests the device got
        std::string reason;                    // part of report.Reason
        std::vector<std::string> missing;
    };
    const auto lastAckLost = [](SimOptions& o) {
        o.Tftp.DropSent = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
        o.Tftp.FaultsOnFirstTransfer = true;
    };
    const auto none = [](SimOptions&) {};
    const Case cases[] = {
        {"empty file", "", none, false, CommandResult::FileUnusable, "Error opening file.", {},
         "is empty: restoring it would erase the device's configuration", {}},
        {"binary bytes", "hostname a\nx\x01y\n", none, false, CommandResult::FileUnusable,
         "Error opening file.", {},
         "is not a configuration text: it holds the byte 0x01 on line 2 (offset 12)", {}},
        {"Latin-1 and UTF-8 names are text", "hostname caf\xe9\nlocation K\xc3\xb6ln\n", none,
         false, CommandResult::Completed, "Restore complete", {execute, "GET /cli?REBOOT"}, "", {}},
        {"last ACK lost, device has it all", "hostname a\nip 1\n", lastAckLost, false,
         CommandResult::Completed, "Restore complete", {execute, "GET /", list, "GET /cli?REBOOT"},
         "", {}},
        {"last ACK lost, device refused a line", "hostname a\nbogus 1\n",
         [&](SimOptions& o) { lastAckLost(o); o.Faults.RejectLinesWith = "bogus"; }, false,
         CommandResult::TransferUnconfirmed, "Restore not confirmed", {execute, "GET /", list},
         "lacks lines", {"bogus 1"}},
        {"verified", "hostname a\r\nip 1\r\n", none, true, CommandResult::Completed,
         "Restore complete", {execute, "GET /", list, "GET /cli?REBOOT"}, "", {}},
        {"not verified", "hostname a\nbogus 1\nbogus 2\n",
         [](SimOptions& o) { o.Faults.RejectLinesWith = "bogus"; }, true,
         CommandResult::TransferUnconfirmed, "", {execute, "GET /", list}, "",
         {"bogus 1", "bogus 2"}},
        {"our idle time-out ended EXECUTE", "hostname a\n",
         [](SimOptions& o) { o.Faults.HoldConnectionMs = 3000; }, false,
         CommandResult::TransferUnconfirmed, "Restore not confirmed", {execute}, "idle time-out",
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        options = SimulatorOptions(dir, tftpPort);
        c.device(options);
        if (options.Faults.HoldConnectionMs > 0) DeviceSettings.CommandIdleTimeoutMs = 400;
        CommandSettings.VerifyRestore = c.verify;
        StartDevice();
        const std::string source = dir + "/saved.cfg";
        WriteWholeFile(source, c.text);
        dialog.boxes.clear();
        RunRestore(source, false);
        CommandSettings.VerifyRestore = false;
        DeviceSettings.CommandIdleTimeoutMs = 10000;

        EXPECT_EQ(report.Result, c.result);
        const bool onlyTheQuestion =
            dialog.boxes.empty() || dialog.boxes.back().caption.starts_with("Initialise");
        EXPECT_EQ(onlyTheQuestion ? "" : dialog.boxes.back().caption, c.lastBox);
        const std::vector<std::string> requests = DeviceRequests();
        ASSERT_GE(requests.size(), c.requestTail.size());
        EXPECT_EQ(std::vector<std::string>(requests.end() - c.requestTail.size(), requests.end()),
                  c.requestTail);
        if (c.result == CommandResult::FileUnusable) {
            EXPECT_TRUE(requests.empty());
            EXPECT_EQ(dialog.boxes.back().text,
                      "The file \"" + source + "\" " + c.reason +
                          ".\r\nIt has not been sent to the Tavio; please check that you chose a "
                          "configuration file.");
        }
        EXPECT_NE(report.Reason.find(c.reason), std::string::npos) << report.Reason;
        EXPECT_EQ(report.MissingLines, c.missing);
        device->Stop();
        EndTftpDally();  // a read-back's dally would outlast the row
        for (int i = 0; i < 200 && IsTftpServerRunning() != 0; ++i) plat::SleepMs(10);
    }
}

// --command-timeout bounds the whole command: a stalled transfer is given up when the command's
// time is over, not after the transfer's own time-out, and it ends at once. Restore, backup and a
// device backup alike.
TEST_F(Restore, TheCommandTimeoutAlsoBoundsItsTransfer) {
    options.Tftp.SilentAfterSent = 2;
    options.Tftp.MaxRetransmits = 1;
    options.FactoryText = std::string(3000, 'f') + "\n";
    StartDevice();
    TftpSettings.TransferTimeoutMs = 30000;
    DeviceSettings.CommandDeadlineMs = 1500;
    const std::string source = dir + "/saved.cfg", target = dir + "/backup.cfg";
    WriteWholeFile(source, std::string(3000, 'z') + "\n");
    const std::function<CommandResult()> commands[] = {
        [&] { RunRestore(source, false); return report.Result; },
        [&] { RunBackup(target); return report.Result; },
        [&] {
            return BackUpDevice(DeviceBackupJob{"127.0.0.1", "root", "tundra", target}).result;
        },
    };
    for (const auto& command : commands) {
        const std::uint64_t start = plat::MonotonicMs();
        EXPECT_EQ(command(), CommandResult::TransferFailed);
        EXPECT_LT(plat::MonotonicMs() - start, 5000u);
        for (int i = 0; i < 300 && IsTftpServerRunning(); ++i) plat::SleepMs(10);
        EXPECT_EQ(IsTftpServerRunning(), 0);  // the abandoned transfer has ended
        EXPECT_FALSE(plat::FileExists(target.c_str()));
    }
    DeviceSettings.CommandDeadlineMs = 600000;
}

}  // namespace
}  // namespace testing_support
