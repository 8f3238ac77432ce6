#include "tests/support/test_support.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

#include "platform/log.h"
#include "platform/net.h"
#include "spine/events.h"
#include "spine/transfer_hooks.h"

namespace testing_support {
namespace {

std::mutex logLock;
std::string logText;

void CaptureSink(std::string_view text) {
    std::lock_guard lock(logLock);
    logText.append(text);
}

std::mutex eventLock;
std::vector<HookEvent> events;

bool RecordError(int code, const void*) {
    std::lock_guard lock(eventLock);
    events.push_back(HookEvent{true, code});
    return true;
}

bool RecordStatus(int code, const void* detail) {
    HookEvent e{false, code};
    if (code == STATUS_PROGRESS && detail) {
        const auto* p = static_cast<const TransferProgress*>(detail);
        e.done = p->Done;
        e.total = p->Total;
    }
    std::lock_guard lock(eventLock);
    events.push_back(e);
    return true;
}

std::uint16_t PickFreePort(bool udp) {
    plat::NetStartup();
    const plat::SocketHandle s = udp ? plat::UdpOpen() : plat::TcpOpen();
    plat::SocketBind(s, plat::Ipv4Endpoint{plat::kLoopbackAddress, 0});
    plat::Ipv4Endpoint local{};
    plat::SocketLocalAddress(s, &local);
    plat::SocketClose(s);
    plat::NetCleanup();
    return local.port;
}

}  // namespace

LogCapture::LogCapture() {
    Clear();
    plat::SetLogSink(CaptureSink, true);
}
LogCapture::~LogCapture() { plat::SetLogSink(nullptr); }
std::string LogCapture::Text() const {
    std::lock_guard lock(logLock);
    return logText;
}
namespace {

#ifdef _WIN32
int Duplicate(int fd) { return _dup(fd); }
int DuplicateOnto(int fd, int onto) { return _dup2(fd, onto); }
int OpenForCapture(const char* path) {
    return _open(path, _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, 0600);
}
void CloseDescriptor(int fd) { _close(fd); }
#else
int Duplicate(int fd) { return ::dup(fd); }
int DuplicateOnto(int fd, int onto) { return ::dup2(fd, onto); }
int OpenForCapture(const char* path) { return ::open(path, O_WRONLY | O_CREAT | O_TRUNC, 0600); }
void CloseDescriptor(int fd) { ::close(fd); }
#endif

}  // namespace

StandardOutputCapture::StandardOutputCapture() : path_(MakeTempDir() + "/stdout.txt") {
    std::fflush(stdout);
    const int file = OpenForCapture(path_.c_str());
    if (file < 0) return;
    saved_ = Duplicate(1);
    DuplicateOnto(file, 1);
    CloseDescriptor(file);
}
StandardOutputCapture::~StandardOutputCapture() { Text(); }
std::string StandardOutputCapture::Text() {
    if (saved_ >= 0) {
        std::fflush(stdout);
        DuplicateOnto(saved_, 1);
        CloseDescriptor(saved_);
        saved_ = -1;
    }
    return ReadWholeFile(path_);
}

bool LogCapture::Contains(const std::string& needle) const {
    return Text().find(needle) != std::string::npos;
}
void LogCapture::Clear() {
    std::lock_guard lock(logLock);
    logText.clear();
}

void InstallRecordingReporters() {
    RegisterTransferHooks(TransferHooks.CheckFilename, TransferHooks.DownloadConfig,
                          TransferHooks.UploadConfig, RecordError, RecordStatus);
}

std::vector<HookEvent> RecordedEvents() {
    std::lock_guard lock(eventLock);
    return events;
}
std::vector<int> RecordedErrors() {
    std::vector<int> out;
    for (const auto& e : RecordedEvents())
        if (e.isError) out.push_back(e.code);
    return out;
}
std::vector<int> RecordedStatuses() {
    std::vector<int> out;
    for (const auto& e : RecordedEvents())
        if (!e.isError) out.push_back(e.code);
    return out;
}
void ClearRecordedEvents() {
    std::lock_guard lock(eventLock);
    events.clear();
}

std::uint16_t PickFreeUdpPort() { return PickFreePort(true); }
std::uint16_t PickFreeTcpPort() { return PickFreePort(false); }

bool LoopbackAliasesKeepTheirAddress() {
    plat::NetStartup();
    const plat::SocketHandle receiver = plat::UdpOpen();
    const plat::SocketHandle sender = plat::UdpOpen();
    plat::Ipv4Endpoint at{};
    bool kept = false;
    if (plat::SocketBind(receiver, plat::Ipv4Endpoint{plat::kLoopbackAddress, 0}) &&
        plat::SocketLocalAddress(receiver, &at) &&
        plat::SocketBind(sender, plat::Ipv4Endpoint{0x7f000009, 0})) {
        const std::uint8_t probe[1] = {0};
        plat::SocketSendTo(sender, probe, at);
        std::uint8_t buffer[8];
        plat::Ipv4Endpoint from{};
        kept =
            plat::SocketRecvFrom(receiver, buffer, &from, 2000) == 1 && from.address == 0x7f000009;
    }
    plat::SocketClose(sender);
    plat::SocketClose(receiver);
    plat::NetCleanup();
    return kept;
}

std::string MakeTempDir() {
    std::random_device rd;
    for (;;) {
        const auto dir = std::filesystem::temp_directory_path() /
                         ("morvane-test-" + std::to_string(rd()) + std::to_string(rd()));
        std::error_code ec;
        if (std::filesystem::create_directory(dir, ec)) return dir.string();
    }
}

void SetEnvironment(const char* name, const char* value) {
#ifdef _WIN32
    _putenv_s(name, value ? value : "");
#else
    if (value) {
        ::setenv(name, value, 1);
    } else {
        ::unsetenv(name);
    }
#endif
}

std::string WithCrLf(std::string_view text) {
    std::string out;
    for (const char c : text) {
        if (c == '\n') out.push_back('\r');
        out.push_back(c);
    }
    return out;
}

std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteWholeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace testing_support
