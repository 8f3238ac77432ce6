// morvane-cli with files that are not what they should be: password files that are devices,
// FIFOs, folders, empty or too long, and a safety backup into a FIFO. Each is refused with a
// message naming it, before the device is contacted (and without waiting on a FIFO).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "devicecmd/device_settings.h"
#include "tests/cli/cli_harness.h"
#include "tests/support/simulated_device_run.h"
#include "tests/support/test_support.h"

namespace testing_support {
namespace {

class CliFileKinds : public ::testing::Test, public SimulatedDeviceRun {
protected:
    void SetUp() override {
        PrepareDeviceRun();
        SetEnvironment("MORVANE_PASSWORD", nullptr);
        StartDevice();
        ASSERT_EQ(::mkfifo((dir + "/fifo").c_str(), 0600), 0);
    }
    void TearDown() override { FinishDeviceRun(); }

    CliRun Cli(std::vector<std::string> args) {
        args.insert(args.end(), {"--http-port", std::to_string(DeviceSettings.Port),
                                 "--tftp-port", std::to_string(tftpPort)});
        return RunCli(args);
    }
};

TEST_F(CliFileKinds, PasswordFilesAreReadToTheFieldsLengthOnlyAndMustHoldAPassword) {
    WriteWholeFile(dir + "/empty", "");
    WriteWholeFile(dir + "/too-long", std::string(80, 'p') + "\n");
    WriteWholeFile(dir + "/no-line-end", std::string(90, 'p'));
    WriteWholeFile(dir + "/longest", std::string(79, 't') + "\r\nrest\n");
    struct Case {
        std::string file;
        const char* cause;  // nullptr: taken
    };
    const Case cases[] = {
        {"/dev/zero", "is a character device"},
        {dir, "is a directory"},
        {dir + "/fifo", "is a FIFO"},
        {dir + "/empty", "has an empty first line"},
        {dir + "/too-long", "has a first line longer than 79 characters"},
        {dir + "/no-line-end", "has a first line longer than 79 characters"},
        {dir + "/longest", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const CliRun run = Cli({"probe", "127.0.0.1", "--password-file", c.file});
        if (c.cause == nullptr) {
            EXPECT_EQ(run.exitCode, 0) << run.err;
            continue;
        }
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(run.err, "morvane-cli: the password file " + c.file + " " + c.cause + "\n");
    }
    EXPECT_EQ(DeviceRequests(), std::vector<std::string>{"GET /"});  // the one good probe only

    // An inventory's password_file column is read by the same rules.
    WriteWholeFile(dir + "/fleet.csv", "host,password_file\n127.0.0.1,/dev/zero\n");
    const CliRun fleet = Cli({"fleet-backup", dir + "/fleet.csv", dir + "/store"});
    EXPECT_EQ(fleet.exitCode, 1);
    EXPECT_EQ(fleet.err, "morvane-cli: " + dir +
                             "/fleet.csv: line 2: the password file /dev/zero is a character device\n");
}

// The backup command's own refusals are in tests/app/backup_target_tests.cpp.
TEST_F(CliFileKinds, ASafetyBackupIntoAFifoIsRefusedBeforeTheDeviceIsAsked) {
    const std::string fifo = dir + "/fifo", file = dir + "/new.cfg";
    WriteWholeFile(file, "hostname after\r\n");
    const CliRun restore = Cli({"restore", "127.0.0.1", file, "--safety-backup", fifo});
    EXPECT_EQ(restore.exitCode, 6);
    const std::string line = "morvane-cli: " + fifo + ": open: it is a FIFO, not a regular file\n";
    EXPECT_EQ(restore.err.rfind(line, 0), 0u)
        << restore.err;
    EXPECT_NE(restore.err.find("the device was not restored"), std::string::npos);
    EXPECT_TRUE(DeviceRequests().empty());
}

}  // namespace
}  // namespace testing_support
