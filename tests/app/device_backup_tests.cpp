// Device backups side by side: a fleet of simulated devices on their own loopback addresses,
// all backed up at once through the one TFTP port, while a stranger asks for a transfer too.
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>
#include <vector>

#include "app/config_file_hooks.h"
#include "app/device_backup.h"
#include "app/panel_texts.h"
#include "platform/fault_injection.h"
#include "platform/net.h"
#include "sim/device_simulator.h"
#include "sim/sim_fleet.h"
#include "spine/events.h"
#include "spine/shared_state.h"
#include "spine/transfer_hooks.h"
#include "tests/app/command_fixture.h"
#include "tests/support/simulated_device_run.h"
#include "tests/support/test_support.h"
#include "tftp/tftp_dally.h"
#include "tftp/tftp_outcome.h"
#include "tftp/tftp_settings.h"
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

// The file hooks, recording reporters, short time-outs on a TFTP port of the test's own, and a
// folder for the backups; returns the port.
std::uint16_t PrepareJobs(std::string* dir) {
    RegisterTransferHooks(CheckFilename, DownloadConfig, UploadConfig, nullptr, nullptr);
    InstallRecordingReporters();
    ClearRecordedEvents();
    const std::uint16_t tftpPort = PickFreeUdpPort();
    UseShortTimeouts(tftpPort);
    *dir = MakeTempDir();
    return tftpPort;
}

TEST(DeviceBackup, AFleetBacksUpAtOnceThroughOnePortEachByteExactAndStrangersAreRefused) {
    if (!LoopbackAliasesKeepTheirAddress()) GTEST_SKIP() << "127.0.0.x is sent from 127.0.0.1 here";
    std::string dir;
    const std::uint16_t tftpPort = PrepareJobs(&dir);

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

// What a job's transfer works on lives as long as the transfer, not as long as the job: a job
// that gave up waiting for the server's socket is never written to when the socket fails later,
// and a write's dally answers a repeated last block after its job has returned.
TEST(DeviceBackup, NoJobIsWrittenToAfterItReturned) {
    std::string dir;
    const std::uint16_t tftpPort = PrepareJobs(&dir);
    SimOptions options = SimulatorOptions(dir, tftpPort);
    options.Tftp.DropReceived = {2};  // the ACK of the last block: the device sends it again
    options.Tftp.RetransmitMs = 300;
    options.Tftp.DallyMs = 1000;
    options.FactoryText = std::string(700, 'x') + "\n";  // two blocks
    DeviceSimulator device(options);
    std::string error;
    ASSERT_TRUE(device.Start(&error)) << error;
    DeviceSettings.Port = device.Endpoint().port;
    const auto job = [&](int n) {
        return DeviceBackupJob{"127.0.0.1", "root", "tundra",
                               dir + "/device-" + std::to_string(n) + ".cfg"};
    };

    // The server's bind fails only after the jobs have stopped waiting for it (every bind, so
    // that a job that books after a failed run meets the same).
    const int readyBefore = TftpSettings.ReadyTimeoutMs;
    TftpSettings.ReadyTimeoutMs = 200;
    plat::InjectLateFailure(plat::Op::Bind, 600, 0, plat::kAlways);
    std::vector<DeviceBackupResult> results(8);
    {
        std::vector<std::thread> threads;
        for (int i = 0; i < 8; ++i)
            threads.emplace_back([&, i] { results[i] = BackUpDevice(job(i)); });
        for (std::thread& t : threads) t.join();
    }
    for (const DeviceBackupResult& r : results) EXPECT_EQ(r.result, CommandResult::PortUnavailable);
    // The last run started may still be in its bind: it fails, and reports, after the jobs.
    plat::SleepMs(800);
    const std::vector<int> errors = RecordedErrors();
    EXPECT_FALSE(errors.empty());
    EXPECT_TRUE(std::all_of(errors.begin(), errors.end(), [](int e) { return e == ERR_BIND; }));
    plat::ClearInjectedFailures();
    TftpSettings.ReadyTimeoutMs = readyBefore;

    // The device's transfer ends only once the dally has repeated the lost last ACK, after the
    // job has its result.
    const DeviceBackupResult stored = BackUpDevice(job(9));
    EXPECT_EQ(stored.result, CommandResult::Completed);
    const auto deviceDone = [&] {
        const auto transfers = device.Transfers();
        return !transfers.empty() && transfers.back().find(" ok: ") != std::string::npos;
    };
    for (int i = 0; i < 300 && !deviceDone(); ++i) plat::SleepMs(10);
    EXPECT_TRUE(deviceDone());
    device.Stop();
    EndTftpDally();
    for (int i = 0; i < 200 && IsTftpServerRunning() != 0; ++i) plat::SleepMs(10);
}

}  // namespace
}  // namespace testing_support
