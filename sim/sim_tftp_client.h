// The simulator's TFTP client: RFC 1350 lock-step transfers in mode "octet", 512-byte blocks,
// with retransmission and a bounded wait, and the packet faults of SimTftpOptions.
//
// Contract: runs on the caller's thread (the simulator's) and owns its UDP socket and its
// socket-library start-up for the length of one call; both are released on every path. The
// socket is bound to options.LocalAddress, so the server sees the packets come from there. Replies
// are taken only from the server's address; the port of the first reply becomes the server's
// port for the rest of the transfer.
#pragma once

#include <string>
#include <string_view>

#include "platform/net.h"
#include "sim/sim_options.h"

struct SimTftpResult {
    bool Ok = false;
    std::string Detail;  // what went wrong, or a short note of what was done
};

// Sends `bytes` as the file `fileName` (write request).
SimTftpResult SimTftpPut(plat::Ipv4Endpoint server, std::string_view fileName,
                         std::string_view bytes, const SimTftpOptions& options);
// Fetches the file `fileName` (read request) into *bytes.
SimTftpResult SimTftpGet(plat::Ipv4Endpoint server, std::string_view fileName, std::string* bytes,
                         const SimTftpOptions& options);
