// Process-wide settings of the device command channel. Set before a command runs.
#pragma once

#include <cstdint>

struct DeviceSettingsRecord {
    std::uint16_t Port = 80;            // the device's web port
    int ConnectTimeoutMs = 10000;       // bound on the TCP handshake
    int ProbeTimeoutMs = 5000;          // receive and send time-outs of the probe connection
    int CommandIdleTimeoutMs = 120000;  // a command connection silent this long counts as failed
};

extern DeviceSettingsRecord DeviceSettings;
