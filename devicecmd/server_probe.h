// What answers at the host: classified from the Server: header of its root page.
#pragma once

enum ServerType : int {
    SERVER_UNRECOGNISED = 0,
    SERVER_TAVIO = 1,
    SERVER_UNSUPPORTED = 2,
    SERVER_TAVIO_21 = 3,
    SERVER_TAVIO_22 = 4,
};

// Dialog's thread only; reports its failures itself. Each read waits at most
// DeviceSettings.ProbeTimeoutMs and the whole probe at most DeviceSettings.ProbeDeadlineMs; either
// expiry is a failed receive (ERR_RECEIVE) and SERVER_UNRECOGNISED.
ServerType ProbeServerType(const char* host);
