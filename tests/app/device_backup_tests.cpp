// Device backups side by side: a fleet of simulated devices on their own loopback addresses,
// all backed up at once through the one TFTP port, while a stranger asks for a transfer too.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "app/config_file_hooks.h"
#include "app/device_backup.h"
#include "app/panel_texts.h"
#include "platform/net.h"
#include "sim/sim_fleet.h"
#include "spine/events.h"
#include "spine/shared_state.h"
#include "spine/transfer_hooks.h"
#include "tests/app/command_fixture.h"
#include "tests/support/simulated_device_run.h"
#include "tests/support/test_support.h"
#include "tftp/tftp_dally.h"
#include "tftp/tftp_server.h"

namespace testing_support {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct DeviceCase {
    std::vector<std::string> switches;
    CommandResult result;
    int lastError;
    bool stored;
};

// Sends a forged write request from 127.0.0.9 every few milliseconds until told to stop, and
// counts the ERROR 2 answers.
struct Stranger {
    explicit Stranger(std::uint16_t serverPort) : server{plat::kLoopbackAddress, serverPort} {
        plat::NetStartup();
        socket = plat::UdpOpen();
        plat::SocketBind(socket, plat::Ipv4Endpoint{0x7f000009, 0});
    }
    ~Stranger() {
        plat::SocketClose(socket);
        plat::NetCleanup();
    }
    void RunUntil(const std::atomic<bool>& stop) {
        const Bytes request = {0,   2,   'u', 'p', 'l', 'o', 'a', 'd', '-', 'i', 'm',
                               'a', 'g', 'e', 0,   'o', 'c', 't', 'e', 't', 0};
        Bytes answer(600);
        while (!stop.load()) {
            plat::SocketSendTo(socket, request, server);
            plat::Ipv4Endpoint from{};
            const int n = plat::SocketRecvFrom(socket, answer, &from, 20);
            if (n >= 4 && answer[1] == 5 && answer[3] == 2)
                ++refusals;
            else if (n >= 2)
                ++otherAnswers;
        }
    }
    plat::Ipv4Endpoint server;
    plat::SocketHandle socket = plat::kNoSocket;
    int refusals = 0;
    int otherAnswers = 0;
};

TEST(DeviceBackup, AFleetBacksUpAtOnceThroughOnePortEachByteExactAndStrangersAreRefused) {
    if (!LoopbackAliasesKeepTheirAddress()) GTEST_SKIP() << "127.0.0.x is sent from 127.0.0.1 here";
    RegisterTransferHooks(CheckFilename, DownloadConfig, UploadConfig, nullptr, nullptr);
    InstallRecordingReporters();
    ClearRecordedEvents();
    const std::uint16_t tftpPort = PickFreeUdpPort();
    UseShortTimeouts(tftpPort);
    const std::string dir = MakeTempDir();

    // Four good devices whose packets interleave (each waits before every packet), one that
    // refuses the credentials, one that never answers the probe, one that breaks off.
    const std::vector<DeviceCase> cases = {
        {{"packet-delay:2"}, CommandResult::Completed, 0, true},
        {{"packet-delay:1"}, CommandResult::Completed, 0, true},
        {{"packet-delay:3"}, CommandResult::Completed, 0, true},
        {{"packet-delay:2", "duplicate-sent:3"}, CommandResult::Completed, 0, true},
        {{"refuse-credentials"}, CommandResult::DeviceCommandFailed, ERR_CREDENTIALS, false},
        {{"never-answer-probe"}, CommandResult::NotTavio, ERR_RECEIVE, false},
        {{"silent-after:4"}, CommandResult::TransferFailed, 0, false},
    };
    SimFleetOptions fleetOptions;
    fleetOptions.Count = static_cast<int>(cases.size());
    fleetOptions.ConfigBytes = 20000;
    fleetOptions.Common = SimulatorOptions(dir, tftpPort);
    fleetOptions.Common.StatePath.clear();
    for (int n = 1; n <= fleetOptions.Count; ++n) fleetOptions.Switches[n] = cases[n - 1].switches;
    SimFleet fleet(fleetOptions);
    std::string error;
    ASSERT_TRUE(fleet.Start(&error)) << error;
    DeviceSettings.Port = fleet.Endpoint(1).port;
    DeviceSettings.ProbeTimeoutMs = 500;
    DeviceAddress.store(0x7f000063);  // the single-device path's record stays as it is

    std::vector<DeviceBackupJob> jobs;
    for (int n = 1; n <= fleet.Count(); ++n) {
        const std::string target = dir + "/device-" + std::to_string(n) + ".cfg";
        WriteWholeFile(target, "the last good backup\r\n");
        jobs.push_back({plat::FormatIpv4(fleet.Endpoint(n).address), "root", "tundra", target});
    }
    std::vector<DeviceBackupResult> results(jobs.size());
    std::atomic<bool> stop{false};
    Stranger stranger(tftpPort);
    std::thread strangerThread([&] { stranger.RunUntil(stop); });
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < jobs.size(); ++i)
        threads.emplace_back([&, i] { results[i] = BackUpDevice(jobs[i]); });
    for (std::thread& t : threads) t.join();
    stop.store(true);
    strangerThread.join();
    fleet.Stop();

    for (std::size_t i = 0; i < jobs.size(); ++i) {
        const DeviceCase& expected = cases[i];
        const DeviceBackupResult& got = results[i];
        SCOPED_TRACE(jobs[i].host);
        EXPECT_EQ(got.result, expected.result);
        EXPECT_EQ(got.lastError, expected.lastError);
        const std::string stored = ReadWholeFile(jobs[i].targetPath);
        if (expected.stored) {
            EXPECT_EQ(stored, WithCrLf(fleet.FactoryText(static_cast<int>(i) + 1)));
            EXPECT_EQ(got.bytes, stored.size());
            EXPECT_TRUE(got.panel.empty());
        } else {
            EXPECT_EQ(stored, "the last good backup\r\n");
            EXPECT_FALSE(got.panel.empty());
        }
        if (expected.lastError != 0) {
            EXPECT_EQ(got.panel,
                      ComposePanelText(expected.lastError, jobs[i].host.c_str(), "root"));
        }
    }
    EXPECT_GT(stranger.refusals, 0);
    EXPECT_EQ(stranger.otherAnswers, 0);
    EXPECT_EQ(DeviceAddress.load(), 0x7f000063u);
    EXPECT_TRUE(RecordedEvents().empty()) << "every event went to its own job";
    EndTftpDally();
    for (int i = 0; i < 200 && IsTftpServerRunning() != 0; ++i) plat::SleepMs(10);
    EXPECT_EQ(IsTftpServerRunning(), 0);
}

}  // namespace
}  // namespace testing_support
