// morvane-cli against the in-process device simulator: every exit code from a real situation,
// --json, and a backup → restore round trip.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <tuple>

using namespace std::string_literals;

#include "app/command_report.h"
#include "cli/cli_outcome.h"
#include "devicecmd/device_settings.h"
#include "platform/fault_injection.h"
#include "platform/files.h"
#include "platform/log.h"
#include "platform/net.h"
#include "platform/threads.h"
#include "sim/device_simulator.h"
#include "spine/shared_state.h"
#include "tests/cli/cli_harness.h"
#include "tests/support/simulated_device_run.h"
#include "tests/support/test_support.h"
#include "tftp/tftp_dally.h"
#include "tftp/tftp_settings.h"

namespace testing_support {
namespace {

class CliAgainstSimulator : public ::testing::Test, public SimulatedDeviceRun {
protected:
    void SetUp() override {
        PrepareDeviceRun();
        SetEnvironment("MORVANE_PASSWORD", nullptr);
    }
    void TearDown() override {
        EndTftpDally();  // a read-back's dally would outlast the test
        FinishDeviceRun();
    }

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
    EXPECT_NE(held.err.find("(another program holds it)"), std::string::npos) << held.err;
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

// The line for exit code 7 names the step that failed on the port and the system's words for it;
// --json carries that line as "cause" and every text the dialog would show as "detail".
TEST_F(CliAgainstSimulator, AnUnopenedTftpPortIsNamedWithItsCause) {
    StartDevice();
    const std::string port = "port " + std::to_string(tftpPort) + ": ";
    struct Case {
        plat::Op op;  // made to fail once; Count_: the port is held by another socket
        const char* command;
        std::string line;  // the last line on standard error
    };
    const Case cases[] = {
        {plat::Op::Count_, "backup", port + "bind: "},
        {plat::Op::Bind, "restore", port + "bind: failure injected by a test"},
        {plat::Op::SocketOpen, "backup", port + "socket: failure injected by a test"},
        {plat::Op::NetStartup, "backup",
         port + "socket library start-up: failure injected by a test"},
    };
    const std::string file = dir + "/x.cfg";
    WriteWholeFile(file, "hostname x\n");
    for (const Case& c : cases) {
        const bool held = c.op == plat::Op::Count_;
        const plat::SocketHandle holder = held ? plat::UdpOpen() : plat::kNoSocket;
        if (held) {
            ASSERT_TRUE(plat::SocketBind(holder, {plat::kAnyAddress, tftpPort}));
        } else {
            plat::InjectFailure(c.op, 0, 1);
        }
        const CliRun run = Cli({c.command, "127.0.0.1", file, "--json"});
        plat::ClearInjectedFailures();
        if (held) plat::SocketClose(holder);
        EXPECT_EQ(run.exitCode, 7) << c.line;
        const std::size_t last = run.err.rfind('\n', run.err.size() - 2) + 1;
        const std::string line = run.err.substr(last);
        EXPECT_EQ(line.rfind("morvane-cli: " + c.line, 0), 0u) << line;
        if (held) {
            EXPECT_EQ(line.substr(line.size() - 28), " (another program holds it)\n") << line;
        }
        EXPECT_NE(run.out.find(",\"cause\":" + JsonString(line.substr(13, line.size() - 14)) + "}"),
                  std::string::npos)
            << run.out;
        EXPECT_NE(run.out.find("\"detail\":\"ERROR: An error has occured"), std::string::npos);
        EXPECT_EQ(run.out.find("TFTP Warning") != std::string::npos, c.command == "backup"s)
            << run.out;
    }
}

std::string Slashed(std::string path) {
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

// Each failure is one line naming what failed, where, and the system's words (the dialog's panel
// only with -v); --json carries the line as "cause". A line that ends in ':' is a prefix (the
// system's words differ between systems); the boxes of a failure the line does not replace
// (the backup's file was not changed) stay before it.
TEST_F(CliAgainstSimulator, EachFailureIsOneLineNamingItsCause) {
    const std::string file = dir + "/r.cfg", target = dir + "/b.cfg";
    WriteWholeFile(file, "hostname x\n");
    struct Case {
        const char* what;
        std::vector<std::string> args;
        plat::Op op;                     // made to fail throughout; Count_: none
        void (*fault)(SimOptions&);      // the device's, or none
        int exitCode;
        std::string line;  // the last line on standard error, without its end; {web}: the web port
        bool alone;                      // and the only one
    };
    const std::string backupFailed =
        "Backup failed: The configuration could not be backed up to: \n\t" + target + "\n";
    const Case cases[] = {
        {"refused connect", {"backup", "127.0.0.9", target}, plat::Op::Count_, nullptr, 4,
         "127.0.0.9:{web}: connect:", true},
        {"silent device", {"probe", "127.0.0.1", "--probe-timeout", "1"}, plat::Op::Count_,
         [](SimOptions& o) { o.Faults.NeverAnswerProbe = true; }, 4,
         "127.0.0.1:{web}: receive: no reply within 1 s", true},
        {"unresolvable name", {"probe", "no-such-host.invalid"}, plat::Op::Count_, nullptr, 4,
         "no-such-host.invalid: resolve:", true},
        {"TFTP port", {"backup", "127.0.0.1", target}, plat::Op::Bind, nullptr, 7,
         "port " + std::to_string(tftpPort) + ": bind: failure injected by a test", true},
        {"restore file", {"restore", "127.0.0.1", dir + "/missing.cfg"}, plat::Op::Count_,
         nullptr, 6, dir + "/missing.cfg: open:", true},
        {"backup file", {"backup", "127.0.0.1", target}, plat::Op::FileWrite, nullptr, 6,
         target + ": write: failure injected by a test", false},
        {"no transfer", {"backup", "127.0.0.1", target}, plat::Op::Count_,
         [](SimOptions& o) { o.Faults.SkipTftp = true; }, 5,
         "127.0.0.1: tftp: the device made no request", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        options = SimulatorOptions(dir, tftpPort);
        if (c.fault) c.fault(options);
        StartDevice();
        std::string expected = c.line;
        if (const std::size_t at = expected.find("{web}"); at != std::string::npos)
            expected.replace(at, 5, std::to_string(httpPort));
        for (const bool json : {false, true}) {
            std::vector<std::string> args = c.args;
            if (json) args.push_back("--json");
            if (c.op != plat::Op::Count_) plat::InjectFailure(c.op, 0, plat::kAlways);
            const CliRun run = Cli(args);
            plat::ClearInjectedFailures();
            EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
            ASSERT_FALSE(run.err.empty());
            const std::size_t last = run.err.rfind('\n', run.err.size() - 2) + 1;
            const std::string line = run.err.substr(last, run.err.size() - last - 1);
            const bool prefix = expected.back() == ':';
            // The file's name is the one written to, in the system's own spelling of the path.
            EXPECT_EQ(Slashed(prefix ? line.substr(0, expected.size() + 13) : line),
                      Slashed("morvane-cli: " + expected))
                << run.err;
            EXPECT_EQ(last == 0, c.alone) << run.err;
            if (!c.alone) {
                EXPECT_EQ(run.err.rfind(backupFailed, 0), 0u) << run.err;
            }
            EXPECT_EQ(run.err.find(".morvane-part"), std::string::npos) << run.err;
            if (json) {
                EXPECT_NE(run.out.find(",\"cause\":" + JsonString(line.substr(13))),
                          std::string::npos)
                    << run.out;
            } else {
                EXPECT_EQ(run.out, "");  // a probe that reached nothing names no type
            }
        }
        device->Stop();
    }

    // -v shows the dialog's panel as well, before the line.
    const std::string web = std::to_string(httpPort);
    const CliRun verbose = Cli({"backup", "127.0.0.9", target, "-v"});
    EXPECT_NE(verbose.err.find("ERROR: TFTP Server unable to connect to the requested Server: "
                               "127.0.0.9.\n"),
              std::string::npos)
        << verbose.err;
    EXPECT_NE(verbose.err.find("Check for Tavio Failed: "), std::string::npos);
    EXPECT_NE(verbose.err.find("\nmorvane-cli: 127.0.0.9:" + web + ": connect: "),
              std::string::npos);
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

// A TFTP thread may outlive the run (a dally lasts seconds): what it logs then never joins the
// result on standard output.
TEST_F(CliAgainstSimulator, StandardOutputCarriesTheResultAloneWhateverLaterThreadsLog) {
    options.FactoryText = "hostname alone\n";
    StartDevice();
    for (const char* file : {"x.cfg", "-"}) {
        const bool dash = std::string(file) == "-";
        StandardOutputCapture stdoutFile;
        std::fputs("[before]", stdout);
        const CliRun run = Cli({"backup", "127.0.0.1", dash ? "-" : dir + "/" + file, "--json"});
        std::thread([] { plat::Log("Refused a datagram from 127.0.0.9:69.\n"); }).join();
        EXPECT_EQ(stdoutFile.Text(), "[before]") << file;
        ASSERT_EQ(run.exitCode, 0) << run.err;
        if (dash) {
            EXPECT_EQ(run.out, "hostname alone\r\n");
        } else {
            EXPECT_EQ(run.out.rfind("{\"command\":\"backup\"", 0), 0u) << run.out;
            EXPECT_EQ(run.out.find('\n'), run.out.size() - 1) << run.out;
        }
    }
}

// A restore's bar and a backup's count of bytes, rewritten in place and cleared at the end: on a
// terminal only, and never with -q (which keeps the result lines off too).
TEST_F(CliAgainstSimulator, ProgressIsDrawnOnATerminalOnlyAndCleared) {
    options.FactoryText = std::string(1500, 'b');
    StartDevice();
    const std::string file = dir + "/big.cfg";
    WriteWholeFile(file, std::string(1500, 'p'));
    struct Case {
        std::vector<std::string> args;
        bool terminal;
        const char* progress;  // the line first drawn, and the last (empty: none)
        const char* lastLine;
    };
    const Case cases[] = {
        {{"restore", "127.0.0.1", file}, true, "\r[##########                    ]  34% 512/1500 bytes",
         "\r[##############################] 100% 1500/1500 bytes"},
        {{"backup", "127.0.0.1", dir + "/b.cfg"}, true, "\r512 bytes received", ""},
        {{"restore", "127.0.0.1", file}, false, "", ""},
        {{"backup", "127.0.0.1", dir + "/b.cfg"}, false, "", ""},
        {{"restore", "127.0.0.1", file, "-q"}, true, "", ""},
        {{"backup", "-q", "127.0.0.1", dir + "/b.cfg"}, true, "", ""},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"--http-port=" + std::to_string(httpPort),
                                 "--tftp-port=" + std::to_string(tftpPort)});
        const CliRun run = RunCli(args, c.terminal);
        ASSERT_EQ(run.exitCode, 0) << run.err;
        const bool quiet = args[1] == "-q" || args[3] == "-q";
        EXPECT_EQ(run.out.empty(), quiet) << run.out;
        if (*c.progress == '\0') {
            EXPECT_EQ(run.err, "") << args[0];
            continue;
        }
        EXPECT_EQ(run.err.rfind(c.progress, 0), 0u) << run.err;
        EXPECT_EQ(run.err.find('\n'), std::string::npos) << run.err;
        // The last line drawn is cleared with as many spaces.
        const std::size_t last = run.err.rfind('\r', run.err.size() - 2);
        ASSERT_NE(last, std::string::npos);
        const std::size_t drawn = run.err.rfind('\r', last - 1);
        const std::string lastLine = run.err.substr(drawn, last - drawn);
        if (*c.lastLine != '\0') {
            EXPECT_EQ(lastLine, c.lastLine);
        }
        EXPECT_EQ(run.err.substr(last), "\r" + std::string(lastLine.size(), ' ') + "\r");
    }
}

// Behind NAT or on a multi-homed device: the device is told the address of ours that
// --tftp-address (or the inventory's tftp_address) names, and its TFTP requests are taken from the
// address that --device-tftp-address (or device_tftp_address) names, and from there only. This
// device's web server answers on 127.0.0.1; its TFTP client sends from 127.0.0.2. Told 127.0.0.3,
// it sends there, but our answers come from 127.0.0.1 (no NAT on loopback) and it ignores them.
TEST_F(CliAgainstSimulator, TheTftpAddressesFollowTheOptionsAndTheInventory) {
    if (!LoopbackAliasesKeepTheirAddress()) GTEST_SKIP() << "loopback aliases lose their address";
    options.Tftp.LocalAddress = 0x7f000002;
    StartDevice();
    const std::string file = dir + "/r.cfg", inventory = dir + "/fleet.csv";
    WriteWholeFile(file, "hostname after\n");
    WriteWholeFile(inventory,
                   "host,name,device_tftp_address,tftp_address\n"
                   "127.0.0.1,misdirected,127.0.0.2,127.0.0.3\n"
                   "127.0.0.1,aliased,127.0.0.2,localhost\n"
                   "localhost,plain,,\n"
                   "127.0.0.9,unresolved,no-such-host.invalid,\n");
    struct Case {
        std::vector<std::string> args;
        int exitCode;
        const char* told;  // the HOST of the case's first LIST CHANGES or EXECUTE
        std::vector<std::string> said;
    };
    const Case cases[] = {
        {{"backup", "127.0.0.1", dir + "/a.cfg"},
         5,
         "127.0.0.1",
         {"Backup failed", "A TFTP request for upload-image came from 127.0.0.2, not from the "
                           "device (127.0.0.1); it was refused."}},
        {{"backup", "127.0.0.1", dir + "/b.cfg", "--device-tftp-address", "127.0.0.2"},
         0,
         "127.0.0.1",
         {"Backup complete"}},
        {{"backup", "127.0.0.1", dir + "/c.cfg", "--device-tftp-address", "127.0.0.2",
          "--tftp-address", "127.0.0.3"},
         5,
         "127.0.0.3",
         {}},
        {{"restore", "127.0.0.1", file, "--device-tftp-address", "127.0.0.3"}, 5, "127.0.0.1", {}},
        {{"restore", "127.0.0.1", file, "--tftp-address", "localhost", "--device-tftp-address",
          "127.0.0.2", "--verify"},
         0,
         "127.0.0.1",
         {"Restore complete (verified)"}},
        {{"fleet-backup", inventory, dir + "/store"},
         8,
         "127.0.0.3",
         {"misdirected (127.0.0.1): failed", "aliased (127.0.0.1): stored",
          "refused. (exit code 5)",
          "plain (localhost): failed",
          "the device_tftp_address no-such-host.invalid is no IPv4 address"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.args.back());
        const std::size_t before = device->Requests().size();
        const CliRun run = Cli(c.args);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.out << run.err;
        for (const std::string& text : c.said)
            EXPECT_NE((run.out + run.err).find(text), std::string::npos) << run.out << run.err;
        const std::vector<std::string> lines = RequestLines(device->Requests());
        const auto command =
            std::find_if(lines.begin() + static_cast<long>(before), lines.end(),
                         [](const std::string& l) { return l.find("+HOST+") != l.npos; });
        ASSERT_NE(command, lines.end());
        EXPECT_EQ(command->substr(command->rfind('+') + 1), c.told);
    }
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

namespace testing_support {
namespace {

// The restore's file is read and judged before anything else happens: a safety backup that
// would overwrite it, an empty file, or bytes that are no text stop the command before the
// device hears of it; --force sends such a file anyway.
TEST_F(CliAgainstSimulator, ARestoreRefusesBeforeTheDeviceIsContacted) {
    options.FactoryText = "hostname before\n";
    StartDevice();
    const std::string file = dir + "/r.cfg", empty = dir + "/empty.cfg",
                      binary = dir + "/binary.cfg", link = dir + "/link.cfg";
    WriteWholeFile(file, "hostname after\r\n");
    WriteWholeFile(empty, "");
    WriteWholeFile(binary, "hostname x\r\nab\0c\r\n"s);
    std::error_code noLinks;  // Windows may refuse links to a user without the privilege
    std::filesystem::create_symlink(file, link, noLinks);
    struct Case {
        std::vector<std::string> args;
        int exitCode;
        std::string err;
    };
    std::vector<Case> cases = {
        {{"restore", "127.0.0.1", file, "--safety-backup", dir + "/./sub/../r.cfg"},
         1,
         "--safety-backup needs a file other than"},
        {{"restore", "127.0.0.1", empty}, 6, "empty.cfg is empty"},
        {{"restore", "127.0.0.1", binary}, 6, "the byte 0x00 on line 2 (offset 14)"},
        {{"restore", "127.0.0.1", dir + "/missing.cfg", "--force"},
         6,
         "morvane-cli: " + dir + "/missing.cfg: open: "},
    };
    if (!noLinks)
        cases.push_back({{"restore", "127.0.0.1", file, "--safety-backup", link}, 1,
                         "needs a file other than"});
    ASSERT_TRUE(std::filesystem::create_directory(dir + "/sub"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.back());
        const CliRun run = Cli(c.args);
        EXPECT_EQ(run.exitCode, c.exitCode);
        EXPECT_NE(run.err.find(c.err), std::string::npos) << run.err;
    }
    EXPECT_TRUE(device->Requests().empty());
    EXPECT_EQ(ReadWholeFile(file), "hostname after\r\n");

    const CliRun forced = Cli({"restore", "127.0.0.1", binary, "--force"});
    EXPECT_EQ(forced.exitCode, 0) << forced.err;
    EXPECT_EQ(device->Configuration(), "hostname x\nab\0c\n"s);
}

// A dry run reads the configuration and shows what the restore would change; --verify reads it
// back after the transfer and reboots only a device that holds every line of the file.
TEST_F(CliAgainstSimulator, DryRunAndVerifyCompareTheFileWithTheDevice) {
    options.FactoryText = "hostname before\nip 10.0.0.1\nsnmp on\n";
    options.Faults.RejectLinesWith = "bogus";
    StartDevice();
    const std::string file = dir + "/r.cfg";
    WriteWholeFile(file, "hostname after\r\nip 10.0.0.1\r\nsnmp on\r\n");

    const CliRun dry = Cli({"restore", "127.0.0.1", file, "--dry-run"});
    EXPECT_EQ(dry.exitCode, 0) << dry.err;
    EXPECT_EQ(dry.out, "--- 127.0.0.1 (device)\n+++ " + file +
                           "\n@@ -1,3 +1,3 @@\n-hostname before\n+hostname after\n ip 10.0.0.1\n"
                           " snmp on\nDry run: restoring " +
                           file + " would add 1 line and remove 1 line; nothing was sent.\n");
    const CliRun json = Cli({"restore", "127.0.0.1", file, "--dry-run", "--json"});
    EXPECT_NE(json.out.find("\"added\":1,\"removed\":1,\"diff\":\"--- 127.0.0.1 (device)\\n"),
              std::string::npos)
        << json.out;
    EXPECT_EQ(
        RequestLines(device->Requests()),
        (std::vector<std::string>{"GET /", "GET /cli?LIST+CHANGES+>+upload-image+HOST+127.0.0.1",
                                  "GET /", "GET /cli?LIST+CHANGES+>+upload-image+HOST+127.0.0.1"}));
    EXPECT_EQ(device->Configuration(), "hostname before\nip 10.0.0.1\nsnmp on\n");

    const CliRun verified = Cli({"restore", "127.0.0.1", file, "--verify"});
    EXPECT_EQ(verified.exitCode, 0) << verified.err;
    EXPECT_EQ(verified.out, "Restore complete (verified): " + file + " (38 bytes)\n");
    EXPECT_EQ(RequestLines(device->Requests()).back(), "GET /cli?REBOOT");

    std::string refused = "hostname after\n";
    for (int i = 1; i <= 7; ++i) refused += "bogus " + std::to_string(i) + "\n";
    refused.insert(refused.size() - 1, " password hunter3");  // listed masked
    WriteWholeFile(file, refused);
    for (const bool verbose : {false, true}) {
        std::vector<std::string> args{"restore", "127.0.0.1", file, "--verify"};
        if (verbose) args.push_back("-v");
        const CliRun failed = Cli(args);
        EXPECT_EQ(failed.exitCode, 5);
        EXPECT_NE(failed.err.find("Restore not verified: 7 lines of " + file +
                                  " are not in the device's configuration; it was not "
                                  "rebooted:\n  bogus 1\n"),
                  std::string::npos)
            << failed.err;
        EXPECT_EQ(failed.err.find("  bogus 7 password ********\n") != std::string::npos, verbose);
        EXPECT_EQ(failed.err.find("hunter3"), std::string::npos);
        EXPECT_EQ(failed.err.find("... and 2 more") != std::string::npos, !verbose);
        EXPECT_NE(RequestLines(device->Requests()).back(), "GET /cli?REBOOT");
    }

    // The printed diff masks a secret's value; the file is sent as it is.
    WriteWholeFile(file, "hostname after\nuser root password hunter2\n");
    for (const bool json : {false, true}) {
        std::vector<std::string> args{"restore", "127.0.0.1", file, "--dry-run"};
        if (json) args.push_back("--json");
        const CliRun masked = Cli(args);
        EXPECT_NE(masked.out.find("+user root password ********"), std::string::npos) << masked.out;
        EXPECT_EQ(masked.out.find("hunter2"), std::string::npos) << masked.out;
    }
}

// Either of our time-outs may end EXECUTE while the device still holds the connection: the
// device may be applying the file, so it is not rebooted, and the line says which limit it was.
TEST_F(CliAgainstSimulator, ARestoreCutShortByOurTimeoutIsNotConfirmed) {
    options.Faults.HoldConnectionMs = 3000;
    StartDevice();
    const std::string file = dir + "/r.cfg";
    WriteWholeFile(file, "hostname after\n");
    for (const auto& [idleMs, timeout, said] :
         {std::tuple{500, "600", "the idle time-out (500 ms)"},
          std::tuple{10000, "1", "the command time-out (1 s)"}}) {
        DeviceSettings.CommandIdleTimeoutMs = idleMs;
        const CliRun run = Cli({"restore", "127.0.0.1", file, "--command-timeout", timeout});
        DeviceSettings.CommandIdleTimeoutMs = 10000;
        EXPECT_EQ(run.exitCode, 5);
        EXPECT_NE(run.err.find("Restore not confirmed"), std::string::npos);
        EXPECT_NE(run.err.find(std::string("when ") + said + " cut it short"), std::string::npos)
            << run.err;
        EXPECT_NE(RequestLines(device->Requests()).back(), "GET /cli?REBOOT");
    }
    DeviceSettings.CommandDeadlineMs = 600000;
}

}  // namespace
}  // namespace testing_support
