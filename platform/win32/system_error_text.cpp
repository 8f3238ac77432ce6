#include "platform/win32/system_error_text.h"

#include <winsock2.h>
#include <windows.h>

#include <string_view>

namespace plat {
namespace {

struct SocketWords {
    unsigned long code;
    std::string_view words;
};

constexpr SocketWords kSocketWords[] = {
    {WSAEACCES, "Permission denied"},
    {WSAEADDRINUSE, "Address already in use"},
    {WSAEADDRNOTAVAIL, "Cannot assign requested address"},
    {WSAECONNREFUSED, "Connection refused"},
    {WSAECONNRESET, "Connection reset by peer"},
    {WSAECONNABORTED, "Software caused connection abort"},
    {WSAEHOSTUNREACH, "No route to host"},
    {WSAENETUNREACH, "Network is unreachable"},
    {WSAETIMEDOUT, "Connection timed out"},
    {WSAEMSGSIZE, "Message too long"},
    {WSAHOST_NOT_FOUND, "Host not found"},
    {WSATRY_AGAIN, "Temporary failure in name resolution"},
    {WSANOTINITIALISED, "Windows Sockets not initialised"},
};

}  // namespace

std::string SystemErrorText(unsigned long code) {
    char text[512];
    DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                               code, 0, text, sizeof text, nullptr);
    while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == ' ' ||
                     text[n - 1] == '.'))
        --n;
    if (n > 0) return std::string(text, n);
    for (const SocketWords& entry : kSocketWords)
        if (entry.code == code) return std::string(entry.words);
    return "error " + std::to_string(code);
}

}  // namespace plat
