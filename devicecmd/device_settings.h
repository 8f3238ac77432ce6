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
    // The TFTP addresses, for commands that name none of their own (DeviceCommandTarget); 0 each
    // keeps the command connection's: our local address is the one the device is told to send
    // to, and the address the connection reached is the one its TFTP requests are taken from.
    std::uint32_t TftpAddress = 0;        // ours, as the device must address it (NAT, interfaces)
    std::uint32_t DeviceTftpAddress = 0;  // the device's TFTP client sends from here
};

extern DeviceSettingsRecord DeviceSettings;
