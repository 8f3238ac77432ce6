#include "platform/log.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <vector>

namespace plat {
namespace {

std::mutex outputLock;
LogSink sink = nullptr;
bool echoToStdout = true;
bool stdoutClosedToLogs = false;

}  // namespace

void SetLogSink(LogSink newSink, bool echo) {
    std::lock_guard lock(outputLock);
    sink = newSink;
    echoToStdout = !stdoutClosedToLogs && (newSink == nullptr || echo);
}

void KeepLogsOffStandardOutput() {
    std::lock_guard lock(outputLock);
    stdoutClosedToLogs = true;
    echoToStdout = false;
}

void LogText(std::string_view text) {
    std::lock_guard lock(outputLock);
    if (sink) sink(text);
    if (echoToStdout) {
        std::fwrite(text.data(), 1, text.size(), stdout);
        std::fflush(stdout);
    }
}

void Log(const char* format, ...) {
    char small[512];
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int needed = std::vsnprintf(small, sizeof small, format, args);
    va_end(args);
    if (needed < 0) {
        va_end(again);
        return;
    }
    if (static_cast<std::size_t>(needed) < sizeof small) {
        va_end(again);
        LogText(std::string_view(small, static_cast<std::size_t>(needed)));
        return;
    }
    std::vector<char> large(static_cast<std::size_t>(needed) + 1);
    std::vsnprintf(large.data(), large.size(), format, again);
    va_end(again);
    LogText(std::string_view(large.data(), static_cast<std::size_t>(needed)));
}

}  // namespace plat
