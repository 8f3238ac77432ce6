// What answers at the host: classified from the Server: header of its root page.
#pragma once

#include <atomic>
#include <cstdint>

enum ServerType : int {
    SERVER_UNRECOGNISED = 0,
    SERVER_TAVIO = 1,
    SERVER_UNSUPPORTED = 2,
    SERVER_TAVIO_21 = 3,
    SERVER_TAVIO_22 = 4,
};

// Any thread; reports its failures itself, through the thread's hooks. Each read waits at most
// DeviceSettings.ProbeTimeoutMs and the whole probe at most DeviceSettings.ProbeDeadlineMs; either
// expiry is a failed receive (ERR_RECEIVE) and SERVER_UNRECOGNISED.
// The address the device's TFTP requests are taken from goes into *reached (DeviceAddress when
// null), as ConnectToDevice stores it. The web port is `port` (0: DeviceSettings.Port).
ServerType ProbeServerType(const char* host, std::atomic<std::uint32_t>* reached = nullptr,
                           std::uint16_t port = 0);
