// What a test needs to run whole commands against the in-process device simulator: short
// time-outs everywhere, a folder of its own, a simulator whose TFTP client talks to our server's
// test port, and a clean end (simulator stopped, no TFTP server thread left behind).
//
// Contract: a test fixture derives from ::testing::Test and SimulatedDeviceRun, calls
// PrepareDeviceRun() in SetUp and FinishDeviceRun() in TearDown, and may change `options` before
// StartDevice().
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/command_report.h"
#include "devicecmd/device_settings.h"
#include "platform/threads.h"
#include "sim/device_simulator.h"
#include "sim/sim_options.h"
#include "spine/shared_state.h"
#include "tests/support/test_support.h"
#include "tftp/tftp_settings.h"

namespace testing_support {

inline void UseShortTimeouts(std::uint16_t tftpPort) {
    TftpSettings.Port = tftpPort;
    TftpSettings.FirstRequestTimeoutMs = 4000;
    TftpSettings.RetransmitInitialMs = 100;
    TftpSettings.RetransmitMaxMs = 200;
    TftpSettings.TransferTimeoutMs = 1500;
    DeviceSettings.ConnectTimeoutMs = 2000;
    DeviceSettings.ProbeTimeoutMs = 2000;
    DeviceSettings.CommandIdleTimeoutMs = 10000;
    CommandSettings.TransferGraceMs = 500;
}

inline SimOptions SimulatorOptions(const std::string& dir, std::uint16_t tftpPort) {
    SimOptions options;
    options.StatePath = dir + "/device-state.txt";
    options.Tftp.ServerPort = tftpPort;
    options.Tftp.RetransmitMs = 100;
    options.Tftp.DallyMs = 200;
    return options;
}

// Each request cut before its protocol version: "GET /", "GET /cli?REBOOT", ...
inline std::vector<std::string> RequestLines(const std::vector<std::string>& requests) {
    std::vector<std::string> lines;
    for (const std::string& r : requests) lines.push_back(r.substr(0, r.find(" HTTP/")));
    return lines;
}

struct SimulatedDeviceRun {
    void PrepareDeviceRun() {
        tftpPort = PickFreeUdpPort();
        UseShortTimeouts(tftpPort);
        dir = MakeTempDir();
        options = SimulatorOptions(dir, tftpPort);
    }

    // Starts the simulator with `options` and points the command channel at it.
    void StartDevice() {
        device = std::make_unique<DeviceSimulator>(options);
        std::string error;
        ASSERT_TRUE(device->Start(&error)) << error;
        DeviceSettings.Port = device->Endpoint().port;
    }

    void FinishDeviceRun() {
        if (device) device->Stop();
        // Whatever the test did, no server thread outlives it.
        for (int i = 0; i < 1000 && IsTftpServerRunning(); ++i) plat::SleepMs(10);
        EXPECT_EQ(IsTftpServerRunning(), 0);
    }

    std::vector<std::string> DeviceRequests() const { return RequestLines(device->Requests()); }

    std::uint16_t tftpPort = 0;
    std::string dir;
    SimOptions options;
    std::unique_ptr<DeviceSimulator> device;
};

}  // namespace testing_support
