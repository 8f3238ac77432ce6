// The tavio-sim program as a process: on loopback, and inside network namespaces made by the
// test, where the commands must name the address of the interface that faces the device.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "app/config_file_hooks.h"
#include "devicecmd/cli_commands.h"
#include "devicecmd/device_settings.h"
#include "devicecmd/server_probe.h"
#include "platform/threads.h"
#include "spine/shared_state.h"
#include "spine/transfer_hooks.h"
#include "tests/support/test_support.h"
#include "tftp/tftp_booking.h"
#include "tftp/tftp_outcome.h"
#include "tftp/tftp_server.h"
#include "tftp/tftp_settings.h"

namespace {

constexpr const char* kInnerVariable = "MORVANE_NETNS_DEVICE";

int Shell(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Runs tavio-sim as a child process (inside `netns` when given), its output in dir/sim.out, and
// waits for its ready line.
struct SimProcess {
    std::string dir;
    pid_t pid = 0;
    int exitStatus = -1;
    std::string readyLine;

    SimProcess(const std::string& directory, const std::string& netns,
               std::vector<std::string> args)
        : dir(directory) {
        std::vector<std::string> argv;
        if (!netns.empty()) argv = {"ip", "netns", "exec", netns};
        argv.push_back(TAVIO_SIM_PATH);
        argv.insert(argv.end(), args.begin(), args.end());
        const std::string out = dir + "/sim.out";
        pid = fork();
        if (pid == 0) {
            const int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(fd, 1);
            dup2(fd, 2);
            std::vector<char*> raw;
            for (auto& a : argv) raw.push_back(a.data());
            raw.push_back(nullptr);
            execvp(raw[0], raw.data());
            _exit(127);
        }
        for (int i = 0; i < 200 && readyLine.empty() && Running(); ++i) {
            plat::SleepMs(25);
            std::ifstream text(out);
            std::getline(text, readyLine);
        }
    }
    bool Running() {
        if (pid <= 0) return false;
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) != pid) return true;
        pid = 0;
        exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return false;
    }
    // The exit status once it has ended by itself; -1 when it still runs after limitMs.
    int Wait(int limitMs) {
        for (int waited = 0; Running(); waited += 25) {
            if (waited >= limitMs) return -1;
            plat::SleepMs(25);
        }
        return exitStatus;
    }
    ~SimProcess() {
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
    }
};

// Two namespaces of the test's own, joined by a veth pair: the utility's side has 10.200.N.1
// on the veth and a second address 10.201.N.1 on its loopback; the device's side has 10.200.N.2.
struct NamespacePair {
    std::string utility, device;
    std::string utilityAddress, otherAddress, deviceAddress;
    bool made = false;

    NamespacePair() {
        const std::string id = std::to_string(getpid());
        const std::string n = std::to_string(getpid() % 250 + 1);
        utility = "mvn-u-" + id;
        device = "mvn-d-" + id;
        utilityAddress = "10.200." + n + ".1";
        otherAddress = "10.201." + n + ".1";
        deviceAddress = "10.200." + n + ".2";
        if (Shell("ip netns add " + utility + " 2>/dev/null") != 0) return;
        if (Shell("ip netns add " + device + " 2>/dev/null") != 0) return;
        made = Shell("ip -n " + utility + " link set lo up && ip -n " + device +
                     " link set lo up"
                     " && ip link add mvu0 netns " +
                     utility + " type veth peer name mvd0 netns " + device + " && ip -n " +
                     utility + " addr add " + utilityAddress +
                     "/24 dev mvu0"
                     " && ip -n " +
                     utility + " addr add " + otherAddress +
                     "/32 dev lo"
                     " && ip -n " +
                     device + " addr add " + deviceAddress +
                     "/24 dev mvd0"
                     " && ip -n " +
                     utility + " link set mvu0 up && ip -n " + device + " link set mvd0 up") == 0;
    }
    ~NamespacePair() {  // deleting a namespace takes its end of the veth pair with it
        Shell("ip netns del " + utility + " 2>/dev/null");
        Shell("ip netns del " + device + " 2>/dev/null");
    }
};

std::string ReadFile(const std::string& path) {
    return testing_support::ReadWholeFile(path);
}

}  // namespace

TEST(SimulatorProgram, PrintsWhereItListensAndEndsAfterItsRequests) {
    const std::string dir = testing_support::MakeTempDir();
    DeviceSettingsRecord saved = DeviceSettings;
    {
        SimProcess sim(dir, "",
                       {"--listen", "127.0.0.1:0", "--state", dir + "/state.cfg", "--server",
                        "Tavio 21", "--max-requests", "1", "--duration", "30000"});
        ASSERT_EQ(sim.readyLine.rfind("tavio-sim listening on 127.0.0.1:", 0), 0u) << sim.readyLine;
        DeviceSettings.Port = static_cast<std::uint16_t>(
            std::stoi(sim.readyLine.substr(sim.readyLine.rfind(':') + 1)));
        testing_support::InstallRecordingReporters();
        EXPECT_EQ(ProbeServerType("127.0.0.1"), SERVER_TAVIO_21);
        EXPECT_EQ(sim.Wait(10000), 0);
    }
    DeviceSettings = saved;
    EXPECT_FALSE(ReadFile(dir + "/state.cfg").empty()) << "the factory text was stored";

    SimProcess bad(dir, "", {"--listen", "127.0.0.1:0"});
    EXPECT_EQ(bad.Wait(10000), 2);
    EXPECT_NE(ReadFile(dir + "/sim.out").find("--state FILE is required"), std::string::npos);
}

TEST(NetworkNamespace, ListChangesAndExecuteNameTheAddressFacingTheDevice) {
    if (std::getenv(kInnerVariable)) GTEST_SKIP() << "this is the inner run";
    if (geteuid() != 0) GTEST_SKIP() << "making network namespaces needs root";
    NamespacePair ns;
    if (!ns.made) GTEST_SKIP() << "network namespaces cannot be made here";

    const std::string dir = testing_support::MakeTempDir();
    SimProcess sim(dir, ns.device,
                   {"--listen", ns.deviceAddress + ":80", "--state", dir + "/state.cfg", "--log",
                    dir + "/requests.log", "--tftp-port", "69", "--retransmit-ms", "200",
                    "--dally-ms", "300", "--max-requests", "3", "--duration", "60000"});
    ASSERT_NE(sim.readyLine.find("listening on " + ns.deviceAddress + ":80"), std::string::npos)
        << sim.readyLine;

    char self[4096] = {};
    ASSERT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);
    const int inner =
        Shell("ip netns exec " + ns.utility + " env " + kInnerVariable + "=" + ns.deviceAddress +
              " MORVANE_NETNS_DIR='" + dir + "' '" + self +
              "' --gtest_filter=NetworkNamespaceInner.* > '" + dir + "/inner.out' 2>&1");
    EXPECT_EQ(inner, 0) << ReadFile(dir + "/inner.out");
    EXPECT_EQ(sim.Wait(20000), 0);

    // Request lines, each command's transfer line after it.
    const std::string log = ReadFile(dir + "/requests.log");
    const std::string a = ns.utilityAddress;
    EXPECT_NE(log.find("GET /cli?LIST+CHANGES+>+upload-image+HOST+" + a +
                       " HTTP/1.0\n"
                       "WRQ upload-image " +
                       a + ":69 ok"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("GET /cli?EXECUTE+image+HOST+" + a + " HTTP/1.0\nRRQ image " + a + ":69 ok"),
              std::string::npos)
        << log;
    EXPECT_EQ(log.find(ns.otherAddress), std::string::npos) << log;
}

// The utility's half of the test above, run by it inside the utility's namespace.
TEST(NetworkNamespaceInner, BackupAndRestoreThroughTheVethPair) {
    const char* device = std::getenv(kInnerVariable);
    const char* dirText = std::getenv("MORVANE_NETNS_DIR");
    if (!device || !dirText) GTEST_SKIP() << "runs only inside the network namespace test";
    const std::string dir = dirText;
    RegisterTransferHooks(CheckFilename, DownloadConfig, UploadConfig, nullptr, nullptr);
    testing_support::InstallRecordingReporters();
    TftpSettings.Port = 69;  // a namespace of our own: nothing else holds it
    TftpSettings.RetransmitInitialMs = 200;
    DeviceSettings.Port = 80;
    SetHost(device);
    SetUserName("root");
    SetPassword("tundra");

    ASSERT_EQ(ProbeServerType(device), SERVER_TAVIO);
    const std::string backup = dir + "/backup.cfg";
    SetTargetPath(backup.c_str());
    TftpBooking booking;
    ASSERT_EQ(BookSingleDeviceTransfer(3000, &booking), TftpReadiness::Ready);
    ASSERT_EQ(SendListChangesCommand(), 1);
    EXPECT_EQ(AwaitTftpBooking(booking, 5000).Result, TftpRunResult::FileStored);
    for (int i = 0; i < 100 && IsTftpServerRunning() != 0; ++i) plat::SleepMs(50);

    testing_support::WriteWholeFile(dir + "/restore.cfg", "hostname moved\r\n");
    ASSERT_EQ(LoadFileImage((dir + "/restore.cfg").c_str()), 1);
    ASSERT_EQ(BookSingleDeviceTransfer(3000, &booking), TftpReadiness::Ready);
    ASSERT_EQ(SendExecuteCommand(), 1);
    EXPECT_EQ(AwaitTftpBooking(booking, 5000).Result, TftpRunResult::FileServed);
    EXPECT_EQ(ReadFile(backup).substr(0, 16), "hostname tavio\r\n");
    EXPECT_EQ(ReadFile(dir + "/state.cfg"), "hostname moved\n");
}
