#include "app/startup.h"

#include <cstring>

#include "platform/log.h"
#include "spine/shared_state.h"

namespace {

constexpr std::size_t kHostLimit = sizeof(ConnectionSettings.Host) - 1;

bool IsFormatSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

std::string FindHostOption(const char* commandLine) {
    if (commandLine == nullptr) return {};
    const char* option = std::strstr(commandLine, "-s");
    if (option == nullptr) return {};
    const char* p = option + 2;
    while (*p == ' ') ++p;
    while (IsFormatSpace(*p)) ++p;
    const char* start = p;
    while (*p != '\0' && !IsFormatSpace(*p)) ++p;
    return std::string(start, p);
}

void ApplyStartupSettings(const char* commandLine) {
    const std::string host = FindHostOption(commandLine);
    if (host.size() > kHostLimit) {
        plat::Log("Ignoring the -s host: it is longer than %zu characters.\n", kHostLimit);
    } else {
        SetHost(host.c_str());
    }
    SetUserName("root");
    SetPassword("tundra");
}
