// Small pieces the benchmark programs share.
#pragma once

#include <cstdint>

#include "platform/net.h"

// A UDP port on 127.0.0.1 that no one holds now (bound and released at once).
inline std::uint16_t FreeUdpPort() {
    plat::NetStartup();
    const plat::SocketHandle probe = plat::UdpOpen();
    plat::SocketBind(probe, plat::Ipv4Endpoint{plat::kLoopbackAddress, 0});
    plat::Ipv4Endpoint local{};
    plat::SocketLocalAddress(probe, &local);
    plat::SocketClose(probe);
    plat::NetCleanup();
    return local.port;
}
