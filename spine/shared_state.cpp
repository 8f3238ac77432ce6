#include "spine/shared_state.h"

#include <cstring>

ConnectionSettingsRecord ConnectionSettings{};
char TargetPath[260]{};
FileImageRecord FileImage{};
std::mutex SharedRecordLock;
std::atomic<std::int32_t> TftpServerRunning{0};
std::atomic<std::uint32_t> DeviceAddress{0};
void* ModuleInstance = nullptr;

namespace {

template <std::size_t N>
int CopyInto(char (&field)[N], const char* text) {
    std::strncpy(field, text, N - 1);
    field[N - 1] = '\0';
    return 1;
}

}  // namespace

int SetHost(const char* text) { return CopyInto(ConnectionSettings.Host, text); }
int SetUserName(const char* text) { return CopyInto(ConnectionSettings.UserName, text); }
int SetPassword(const char* text) { return CopyInto(ConnectionSettings.Password, text); }

int SetTargetPath(const char* text) {
    std::lock_guard lock(SharedRecordLock);
    return CopyInto(TargetPath, text);
}

const char* GetHost() { return ConnectionSettings.Host; }

std::string GetTargetPath() {
    std::lock_guard lock(SharedRecordLock);
    return TargetPath;
}

int IsTftpServerRunning() { return TftpServerRunning.load(); }
