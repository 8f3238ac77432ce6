#include "cli/tftp_address.h"

#include "platform/net.h"

bool ResolveTftpAddress(const std::string& text, std::uint32_t* address) {
    if (text.empty() || plat::NetStartup() != 0) return false;
    std::uint32_t resolved = 0;
    const bool ok = plat::ResolveIpv4(text.c_str(), &resolved) && resolved != plat::kAnyAddress;
    plat::NetCleanup();
    if (ok) *address = resolved;
    return ok;
}
