#include "tests/devicecmd/channel_fixture.h"

#include <atomic>

#include "spine/transfer_hooks.h"

namespace {

std::mutex noteLock;
std::vector<NotedEvent> noted;
std::atomic<testing_support::LogCapture*> currentLog{nullptr};

bool Note(bool isError, int code) {
    testing_support::LogCapture* log = currentLog;
    const std::string before = log ? log->Text() : std::string();
    std::lock_guard lock(noteLock);
    noted.push_back(NotedEvent{isError, code, before});
    return true;
}

bool NoteError(int code, const void*) {
    return Note(true, code);
}
bool NoteStatus(int code, const void*) {
    return Note(false, code);
}

}  // namespace

void ChannelTest::SetUp() {
    savedSettings_ = DeviceSettings;
    DeviceSettings.ConnectTimeoutMs = 2000;
    DeviceSettings.ProbeTimeoutMs = 2000;
    DeviceSettings.CommandIdleTimeoutMs = 5000;
    plat::ClearInjectedFailures();
    {
        std::lock_guard lock(noteLock);
        noted.clear();
    }
    currentLog = &log_;
    RegisterTransferHooks(TransferHooks.CheckFilename, TransferHooks.DownloadConfig,
                          TransferHooks.UploadConfig, NoteError, NoteStatus);
}

void ChannelTest::TearDown() {
    plat::ClearInjectedFailures();
    currentLog = nullptr;
    DeviceSettings = savedSettings_;
}

std::vector<NotedEvent> ChannelTest::Events() const {
    std::lock_guard lock(noteLock);
    return noted;
}

std::vector<int> ChannelTest::Errors() const {
    std::vector<int> out;
    for (const auto& e : Events())
        if (e.isError) out.push_back(e.code);
    return out;
}

std::vector<int> ChannelTest::Statuses() const {
    std::vector<int> out;
    for (const auto& e : Events())
        if (!e.isError) out.push_back(e.code);
    return out;
}

void ChannelTest::UseDevice(std::uint16_t port, const char* user, const char* password) {
    DeviceSettings.Port = port;
    SetHost("127.0.0.1");
    SetUserName(user);
    SetPassword(password);
}
