// An address given for TFTP (an option, an inventory's column): dotted decimal, or a name that
// resolves to an IPv4 address.
//
// Contract: any thread; a name is looked up (bounded by the system's resolver). Balances its own
// socket-library start-up.
#pragma once

#include <cstdint>
#include <string>

// The address in host byte order into *address. False for an empty text, a name that does not
// resolve, and 0.0.0.0 (no address to send to or to take requests from).
bool ResolveTftpAddress(const std::string& text, std::uint32_t* address);
