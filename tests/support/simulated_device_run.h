// Settings for a test that runs whole commands against the in-process device simulator: short
// time-outs everywhere, and a simulator whose TFTP client talks to our server's test port.
#pragma once

#include <cstdint>
#include <string>

#include "app/command_report.h"
#include "devicecmd/device_settings.h"
#include "sim/sim_options.h"
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

}  // namespace testing_support
