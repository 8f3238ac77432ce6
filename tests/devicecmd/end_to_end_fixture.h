// Ground of the end-to-end exchanges: the utility's own TFTP server and file hooks on a free port
// with short time-outs, and a device simulator whose TFTP client talks to that port.
#pragma once

#include <memory>
#include <string>

#include "sim/device_simulator.h"
#include "tests/devicecmd/channel_fixture.h"
#include "tftp/tftp_settings.h"

class EndToEndTest : public ChannelTest {
  protected:
    void SetUp() override;
    void TearDown() override;

    DeviceSimulator& StartSim();
    // Starts a server thread unless one is running, as the commands do.
    void EnsureTftpServer();
    // Polls in 200 ms steps until the server thread has ended; false when it still runs after
    // limitMs.
    bool WaitForServerEnd(int limitMs = 20000);

    std::string dir_;
    SimOptions options_;
    std::unique_ptr<DeviceSimulator> sim_;
    TftpSettingsRecord savedTftp_{};
};

// A configuration text of `lines` numbered lines with LF ends.
std::string ConfigText(int lines);
using testing_support::WithCrLf;
