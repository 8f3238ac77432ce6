// Shared pieces of the test suite: captured diagnostic output, recorded hook events, free ports.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace testing_support {

// Captures every diagnostic text while alive (process-wide; one at a time).
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    std::string Text() const;
    bool Contains(const std::string& needle) const;
    void Clear();
};

// Everything written to the process's standard output (file descriptor 1) while alive goes into
// a file instead; Text() ends the capture and returns it. One at a time, main thread.
class StandardOutputCapture {
public:
    StandardOutputCapture();
    ~StandardOutputCapture();
    std::string Text();

private:
    std::string path_;
    int saved_ = -1;
};

// Records ReportError / ReportStatus calls made through TransferHooks (from any thread).
struct HookEvent {
    bool isError;
    int code;
    std::uint32_t done = 0;   // STATUS_PROGRESS detail
    std::uint32_t total = 0;
};
void InstallRecordingReporters();  // keeps whatever file hooks are registered
std::vector<HookEvent> RecordedEvents();
std::vector<int> RecordedErrors();
std::vector<int> RecordedStatuses();
void ClearRecordedEvents();

// A port on 127.0.0.1 that nothing was bound to a moment ago.
std::uint16_t PickFreeUdpPort();
std::uint16_t PickFreeTcpPort();

// Whether a datagram sent from a socket bound to another loopback address (127.0.0.9) arrives
// with that address as its source. Wine sends it from 127.0.0.1 whatever the socket is bound to,
// so tests that need a host beside the device skip themselves there.
bool LoopbackAliasesKeepTheirAddress();

// A fresh temporary directory for the test (removed by the caller if it likes).
std::string MakeTempDir();
// Sets (value non-null) or removes an environment variable of this process.
void SetEnvironment(const char* name, const char* value);

std::string ReadWholeFile(const std::string& path);
// The text as a backup stores it: every line feed preceded by a carriage return.
std::string WithCrLf(std::string_view text);
void WriteWholeFile(const std::string& path, const std::string& bytes);

}  // namespace testing_support
