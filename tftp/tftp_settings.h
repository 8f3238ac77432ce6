// Process-wide settings of the TFTP server. Set before the first server thread starts (tests and
// the simulator pick free ports; the utility keeps the defaults).
#pragma once

#include <cstdint>

struct TftpSettingsRecord {
    std::uint16_t Port = 69;
    int FirstRequestTimeoutMs = 60000;  // bound on the wait for the one request of a run
    int ReadyTimeoutMs = 3000;          // bound on a command's wait for a listening server
    int RetransmitInitialMs = 1000;     // first retransmission time-out of a transfer
    int RetransmitMaxMs = 6000;         // every later re-send of it waits this long
    int TransferTimeoutMs = 60000;      // a transfer without progress for this long fails
};

extern TftpSettingsRecord TftpSettings;
