#include "devicecmd/failure_words.h"

#include "devicecmd/device_settings.h"
#include "platform/net.h"

std::string DeviceWhere(const char* host, std::uint16_t port) {
    return std::string(host) + ":" + std::to_string(port != 0 ? port : DeviceSettings.Port);
}

std::string NoReplyWithin(int ms) {
    return "no reply within " +
           (ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms");
}

FailureCause DeviceSocketCause(const char* host, std::uint16_t port, const char* what) {
    return FailureCause{DeviceWhere(host, port), what,
                        plat::SocketErrorText(plat::LastSocketError())};
}
