// Process-wide settings of the device command channel. Set before a command runs.
#pragma once

#include <cstdint>

struct DeviceSettingsRecord {
    std::uint16_t Port = 80;            // the device's web port
    int ConnectTimeoutMs = 10000;       // bound on the TCP handshake
    int ProbeTimeoutMs = 5000;          // receive and send time-outs of the probe connection
    int ProbeDeadlineMs = 15000;        // bound on a whole probe, however its reply trickles in
    int CommandIdleTimeoutMs = 120000;  // a command connection silent this long counts as failed
    int CommandDeadlineMs = 600000;     // bound on a whole command, the device's transfer included
};

extern DeviceSettingsRecord DeviceSettings;
