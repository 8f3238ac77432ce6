// morvane-cli against the in-process device simulator: every exit code from a real situation,
// --json, and a backup → restore round trip.
#include <gtest/gtest.h>

#include <memory>

#include "app/command_report.h"
#include "devicecmd/device_settings.h"
#include "platform/files.h"
#include "platform/net.h"
#include "platform/threads.h"
#include "sim/device_simulator.h"
#include "spine/shared_state.h"
#include "tests/cli/cli_harness.h"
#include "tests/support/simulated_device_run.h"
#include "tests/support/test_support.h"
#include "tftp/tftp_settings.h"

namespace testing_support {
namespace {

class CliAgainstSimulator : public ::testing::Test, public SimulatedDeviceRun {
protected:
    void SetUp() override {
        PrepareDeviceRun();
        SetEnvironment("MORVANE_PASSWORD", nullptr);
    }
    void TearDown() override { FinishDeviceRun(); }

    void StartDevice() {
        SimulatedDeviceRun::StartDevice();
        httpPort = DeviceSettings.Port;
    }

    CliRun Cli(std::vector<std::string> args) {
        args.insert(args.end(), {"--http-port", std::to_string(httpPort), "--tftp-port",
                                 std::to_string(tftpPort)});
        return RunCli(args);
    }

    std::uint16_t httpPort = 0;
};

TEST_F(CliAgainstSimulator, BackupThenRestoreBringsTheSameConfigurationBack) {
    options.FactoryText = "hostname round-trip\ninterface eth0 speed auto\n";
    StartDevice();
    const std::string file = dir + "/saved.cfg";
    const CliRun backup = Cli({"backup", "127.0.0.1", file});
    ASSERT_EQ(backup.exitCode, 0) << backup.err;
    EXPECT_EQ(backup.out, "Backup complete: " + file + " (48 bytes)\n");
    const std::string backedUp = device->Configuration();

    // The device changes; the restore puts the backed-up configuration back.
    const CliRun reset = Cli({"restore", "127.0.0.1", file, "--factory-reset"});
    ASSERT_EQ(reset.exitCode, 0) << reset.err;
    EXPECT_EQ(reset.out, "Restore complete: " + file + " (48 bytes)\n");
    EXPECT_EQ(device->Configuration(), backedUp);
    EXPECT_EQ(device->Requests().size(), 2u + 1u + 2u + 3u);
}

TEST_F(CliAgainstSimulator, JsonCarriesTheOutcome) {
    StartDevice();
    const CliRun run = Cli({"backup", "127.0.0.1", dir + "/x.cfg", "--json"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out.rfind("{\"command\":\"backup\",\"host\":\"127.0.0.1\",\"file\":", 0), 0u);
    EXPECT_NE(run.out.find("\"ok\":true,\"exit_code\":0,\"result\":\"completed\""),
              std::string::npos);

    const CliRun probe = Cli({"probe", "127.0.0.1", "--json"});
    EXPECT_NE(probe.out.find("\"detail\":\"Tavio\""), std::string::npos) << probe.out;
}

TEST_F(CliAgainstSimulator, ProbeNamesWhatAnswers) {
    struct Case {
        const char* header;
        const char* printed;
        int exitCode;
    };
    for (const Case& c : {Case{"Tavio 22/1.4", "Tavio 22", 0}, Case{"Merrowin II", "unsupported product", 2},
                          Case{"Apache", "unrecognised", 2}}) {
        options.ServerHeader = c.header;
        StartDevice();
        const CliRun run = Cli({"probe", "127.0.0.1"});
        EXPECT_EQ(run.out, std::string(c.printed) + "\n");
        EXPECT_EQ(run.exitCode, c.exitCode) << c.header;
        device->Stop();
    }
}

TEST_F(CliAgainstSimulator, ExitCodesFromRealFailures) {
    const std::string file = dir + "/x.cfg";
    WriteWholeFile(file, "hostname x\n");

    // First, while no server of ours is left waiting for a transfer that never came.
    StartDevice();
    const plat::SocketHandle holder = plat::UdpOpen();
    ASSERT_TRUE(plat::SocketBind(holder, {plat::kAnyAddress, tftpPort}));
    const CliRun held = Cli({"backup", "127.0.0.1", dir + "/z.cfg"});
    plat::SocketClose(holder);
    EXPECT_EQ(held.exitCode, 7);
    EXPECT_NE(held.err.find("cannot be opened"), std::string::npos);
    device->Stop();

    for (const char* header : {"Wendrake", "Apache"}) {  // another product; not a Tavio at all
        options.ServerHeader = header;
        StartDevice();
        EXPECT_EQ(Cli({"restore", "127.0.0.1", file}).exitCode, 2) << header;
        device->Stop();
    }

    options.ServerHeader = "Tavio";
    options.Faults.RefuseCredentials = true;
    StartDevice();
    const CliRun refused = Cli({"backup", "127.0.0.1", dir + "/y.cfg", "-u", "operator"});
    EXPECT_EQ(refused.exitCode, 3);
    EXPECT_NE(refused.err.find("Invalid Username ( operator ) or Password"), std::string::npos);
    device->Stop();

    options.Faults.RefuseCredentials = false;
    options.Faults.SkipTftp = true;
    StartDevice();
    EXPECT_EQ(Cli({"backup", "127.0.0.1", dir + "/y.cfg"}).exitCode, 5);
    EXPECT_EQ(Cli({"restore", "127.0.0.1", file}).exitCode, 5);
    device->Stop();

    options.Faults.SkipTftp = false;
    StartDevice();
    EXPECT_EQ(Cli({"restore", "127.0.0.1", dir + "/missing.cfg"}).exitCode, 6);
    EXPECT_EQ(Cli({"backup", "127.0.0.1", dir + "/no/such/folder.cfg"}).exitCode, 6);
    device->Stop();

    // Nothing listens on the web port any more.
    EXPECT_EQ(Cli({"backup", "127.0.0.1", dir + "/z.cfg"}).exitCode, 4);
    EXPECT_EQ(RunCli({"probe", "no-such-host.invalid", "--http-port", "1"}).exitCode, 4);
}

TEST_F(CliAgainstSimulator, ASafetyBackupComesFirstAndItsFailureLeavesTheDeviceAlone) {
    options.FactoryText = "hostname before\n";
    StartDevice();
    const std::string file = dir + "/new.cfg", safety = dir + "/safety.cfg";
    WriteWholeFile(file, "hostname after\r\n");

    const CliRun failed =
        Cli({"restore", "127.0.0.1", file, "--safety-backup", dir + "/no/such/folder.cfg"});
    EXPECT_EQ(failed.exitCode, 6);
    EXPECT_NE(failed.err.find("the device was not restored"), std::string::npos) << failed.err;
    EXPECT_EQ(device->Configuration(), "hostname before\n");

    const CliRun run = Cli({"restore", "127.0.0.1", file, "--safety-backup", safety});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "Safety backup complete: " + safety +
                           " (17 bytes)\nRestore complete: " + file + " (16 bytes)\n");
    EXPECT_EQ(ReadWholeFile(safety), "hostname before\r\n");
    EXPECT_EQ(device->Configuration(), "hostname after\n");
}

TEST_F(CliAgainstSimulator, ADashPutsTheWholeTextAloneOnStandardOutput) {
    options.FactoryText = "hostname piped\n";
    StartDevice();
    const CliRun backup = Cli({"backup", "127.0.0.1", "-", "--json"});
    EXPECT_EQ(backup.exitCode, 0) << backup.err;
    EXPECT_EQ(backup.out, "hostname piped\r\n");
    EXPECT_NE(backup.err.find("\"file\":\"-\",\"ok\":true"), std::string::npos) << backup.err;
    EXPECT_FALSE(plat::FileExists("-"));

    const std::string file = dir + "/new.cfg";
    WriteWholeFile(file, "hostname after\r\n");
    const CliRun restore = Cli({"restore", "127.0.0.1", file, "--safety-backup", "-"});
    EXPECT_EQ(restore.exitCode, 0) << restore.err;
    EXPECT_EQ(restore.out, "hostname piped\r\n");
    EXPECT_EQ(restore.err, "Safety backup complete: - (16 bytes)\nRestore complete: " + file +
                               " (16 bytes)\n");
    device->Stop();

    options.Faults.SkipTftp = true;  // no text at all: nothing on standard output
    StartDevice();
    const CliRun failed = Cli({"backup", "127.0.0.1", "-"});
    EXPECT_EQ(failed.exitCode, 5);
    EXPECT_EQ(failed.out, "");
    EXPECT_NE(failed.err.find("Backup failed"), std::string::npos);
}

TEST_F(CliAgainstSimulator, ARestoreDrawsItsProgressOnATerminalOnly) {
    StartDevice();
    const std::string file = dir + "/big.cfg";
    WriteWholeFile(file, std::string(1500, 'p'));
    const std::vector<std::string> args{"restore",     "127.0.0.1",
                                        file,          "--http-port",
                                        std::to_string(httpPort), "--tftp-port",
                                        std::to_string(tftpPort)};
    const CliRun terminal = RunCli(args, true);
    ASSERT_EQ(terminal.exitCode, 0) << terminal.err;
    EXPECT_NE(terminal.err.find("\r[##########                    ]  34% 512/1500 bytes"), std::string::npos)
        << terminal.err;
    EXPECT_NE(terminal.err.find("] 100% 1500/1500 bytes\n"), std::string::npos);

    const CliRun piped = RunCli(args, false);
    ASSERT_EQ(piped.exitCode, 0);
    EXPECT_EQ(piped.err.find('['), std::string::npos);
}

TEST_F(CliAgainstSimulator, VerboseShowsTheDiagnosticLinesButNeverThePassword) {
    StartDevice();
    SetEnvironment("MORVANE_PASSWORD", "tundra");
    const CliRun run = Cli({"backup", "127.0.0.1", dir + "/x.cfg", "-v"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_NE(run.err.find("Trying to determing the server type.\n"), std::string::npos);
    EXPECT_NE(run.err.find("127.0.0.1:root:********\n"), std::string::npos);
    EXPECT_EQ(run.err.find("tundra"), std::string::npos);
    EXPECT_EQ(run.out.find("Trying"), std::string::npos);
}

}  // namespace
}  // namespace testing_support
