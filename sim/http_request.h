// Receiving and taking apart one HTTP request on an accepted connection.
//
// Contract: called on the simulator's thread with a connection it owns; never closes it.
#pragma once

#include <string>
#include <string_view>

#include "platform/net.h"

struct HttpRequest {
    std::string Raw;          // every byte received, up to the end of the header section
    std::string RequestLine;  // the first line, without its line end
    std::string Method;
    std::string Target;  // e.g. "/" or "/cli?REBOOT"
    std::string Version;
};

// Reads until the empty line that ends the header section. False when the peer closes, the read
// fails, nothing more arrives for timeoutMs, or the header section passes 16 KiB.
bool ReceiveHttpRequest(plat::SocketHandle s, int timeoutMs, HttpRequest* request);

// The value of the first header named `name` (letter case ignored), without surrounding blanks;
// empty when there is none.
std::string HeaderValue(const HttpRequest& request, std::string_view name);
