// fleet-backup's inventory as a run takes it: which devices it picks, where it reads the inventory
// and the password files from, and which web port each device is asked on. One simulated device
// on 127.0.0.1 whose password is not the default one; the command's own --http-port leads nowhere.
#include <gtest/gtest.h>

#include <filesystem>
#include <iostream>
#include <sstream>

#include "tests/cli/cli_harness.h"
#include "tests/support/simulated_device_run.h"

namespace testing_support {
namespace {

class FleetInventoryRun : public ::testing::Test, public SimulatedDeviceRun {
  protected:
    void SetUp() override {
        PrepareDeviceRun();
        SetEnvironment("MORVANE_PASSWORD", nullptr);
        options.Password = "kestrel";
        StartDevice();
    }
    void TearDown() override { FinishDeviceRun(); }
};

TEST_F(FleetInventoryRun, OnlyTheNamedDevicesOnTheirOwnPortsWithPasswordsBesideTheInventory) {
    namespace fs = std::filesystem;
    const std::string port = std::to_string(device->Endpoint().port);
    fs::create_directory(dir + "/site");
    WriteWholeFile(dir + "/site/pw.txt", "kestrel\n");
    // The second device answers nowhere: a run that contacted it would fail.
    WriteWholeFile(dir + "/site/fleet.csv",
                   "host,name,password_file,http_port\n127.0.0.1,dev,pw.txt," + port +
                       "\n127.0.0.9,spare,pw.txt,\n");
    struct Case {
        const char* what;
        const char* inventory;  // "-": standard input, given `input`
        std::string input;
        std::vector<std::string> extra;
        const char* password;  // MORVANE_PASSWORD, or null
        int exitCode;
        std::string says;  // on standard output, or else on standard error
        bool contacted;
    };
    const Case cases[] = {
        {"an unknown name",
         "site/fleet.csv",
         "",
         {"--only", "dev,ghost,spook,ghost"},
         nullptr,
         1,
         "--only: in the inventory " + dir +
             "/site/fleet.csv, no devices are named \"ghost\", \"spook\"",
         false},
        {"an unknown name, with --json",
         "site/fleet.csv",
         "",
         {"--only", "ghost", "--json"},
         nullptr,
         1,
         "{\"ok\":false,\"exit_code\":1,\"result\":\"usage-error\",\"error\":\"usage\","
         "\"message\":\"--only: in the inventory ",
         false},
        {"one device of two, in any case",
         "site/fleet.csv",
         "",
         {"--only", "DEV"},
         nullptr,
         0,
         "Fleet backup: 1 device, 1 stored, 0 unchanged, 0 failed",
         true},
        {"standard input",
         "-",
         "host,name,http_port\n127.0.0.1,dev," + port + "\n",
         {},
         "kestrel",
         0,
         "Fleet backup: 1 device, 0 stored, 1 unchanged, 0 failed",
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetEnvironment("MORVANE_PASSWORD", c.password);
        const std::size_t requestsBefore = device->Requests().size();
        std::vector<std::string> args{
            "fleet-backup",
            std::string(c.inventory) == "-" ? "-" : dir + "/" + c.inventory,
            dir + "/store",
            "--http-port",
            std::to_string(PickFreeTcpPort()),
            "--tftp-port",
            std::to_string(tftpPort)};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        std::istringstream input(c.input);
        std::streambuf* const keyboard = std::cin.rdbuf(input.rdbuf());
        const CliRun run = RunCli(args);
        std::cin.rdbuf(keyboard);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.out << run.err;
        EXPECT_NE((run.out + run.err).find(c.says), std::string::npos) << run.out << run.err;
        EXPECT_EQ(device->Requests().size() > requestsBefore, c.contacted);
    }
    EXPECT_TRUE(fs::exists(dir + "/store/dev.cfg"));
    EXPECT_FALSE(fs::exists(dir + "/store/spare.cfg"));

    // -q: no line for a device stored or unchanged, no summary; a failed device's line goes to
    // standard error, and so does the warning about a password file that others can read.
    fs::permissions(dir + "/site/pw.txt", fs::perms::owner_read | fs::perms::others_read);
    const CliRun quiet = RunCli({"fleet-backup", dir + "/site/fleet.csv", dir + "/store", "-q",
                                 "--http-port=" + std::to_string(PickFreeTcpPort()),
                                 "--tftp-port=" + std::to_string(tftpPort)});
    EXPECT_EQ(quiet.exitCode, 8) << quiet.err;
    EXPECT_EQ(quiet.out, "");
    const std::size_t failedLine = quiet.err.find("spare (127.0.0.9): failed, ");
    EXPECT_NE(failedLine, std::string::npos) << quiet.err;
    EXPECT_EQ(quiet.err.find("dev (127.0.0.1)"), std::string::npos) << quiet.err;
#ifndef _WIN32
    EXPECT_EQ(quiet.err.substr(0, failedLine),
              "morvane-cli: warning: other users can read the password file " + dir +
                  "/site/pw.txt (mode 0404); to make it private: chmod go= '" + dir +
                  "/site/pw.txt'\n");
#endif
    fs::permissions(dir + "/site/pw.txt", fs::perms::owner_read | fs::perms::owner_write);
}

}  // namespace
}  // namespace testing_support
