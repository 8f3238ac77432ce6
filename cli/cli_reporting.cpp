#include "cli/cli_reporting.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "app/config_file_hooks.h"
#include "app/panel_texts.h"
#include "platform/net.h"
#include "platform/threads.h"
#include "spine/events.h"
#include "spine/shared_state.h"

namespace {

// Standard error output of another thread, waiting for the main thread: a report to compose, or
// text to write as it is.
struct HandedOver {
    enum Kind { Report, Text, Progress } kind;
    int code;  // Report
    std::string text;  // Text, Progress
    FailureCause cause{};  // Report
};

const CliIo* io = nullptr;
bool quietErrors = false;
bool verboseErrors = false;
std::thread::id mainThread;
std::mutex reportLock;  // guards everything below
int lastError = 0;
std::string lastPanel;
FailureCause lastCause;
std::string failureTexts;
bool progressShown = false;
std::size_t progressWidth = 0;    // of the line last drawn, to clear it
std::int64_t progressDrawnAt = -1;  // when it was drawn (monotonic ms); -1: not in this run
std::atomic<std::uint32_t> bytesReceived{0};  // the backup's text so far (TFTP server thread)
std::deque<HandedOver> handedOver;
SocketSetupFailure socketFailure;

bool OnMainThread() { return std::this_thread::get_id() == mainThread; }

constexpr std::int64_t kProgressRedrawMs = 100;  // a terminal is redrawn no more often

// A transfer's progress: against the file's size when it is known (a restore), else the bytes so
// far (a backup: the device's text has no size until its last block).
std::string ProgressLine(std::uint32_t done, std::uint32_t total, bool sized) {
    char line[96];
    if (!sized) {
        std::snprintf(line, sizeof line, "\r%u bytes received", done);
        return line;
    }
    constexpr int kWidth = 30;
    done = std::min(done, total);
    const int percent = total == 0 ? 100 : static_cast<int>(100.0 * done / total);
    const int filled = percent * kWidth / 100;
    std::snprintf(line, sizeof line, "\r[%-*s] %3d%% %u/%u bytes", kWidth,
                  std::string(static_cast<std::size_t>(filled), '#').c_str(), percent, done,
                  total);
    return line;
}

// Lock held.
void KeepFailureTextLocked(std::string_view text) {
    if (!failureTexts.empty()) failureTexts += "\n";
    failureTexts += text;
}

// Main thread, lock held. `told`: the event's own text, which says more than the panel's.
void WritePanel(int code, const std::string& told, const FailureCause& cause) {
    const std::string panel =
        !told.empty() ? told
                      : ComposePanelText(code, ConnectionSettings.Host, ConnectionSettings.UserName);
    if (panel.empty()) return;
    lastError = code;
    lastPanel = panel;
    lastCause = cause;
    KeepFailureTextLocked(panel);
    if (quietErrors || (!verboseErrors && !cause.Empty())) return;
    if (progressShown) io->writeErr("\n");
    progressShown = false;
    io->writeErr(panel + "\n");
}

// Lock held.
void WriteText(std::string_view text, bool progress) {
    io->writeErr(text);
    if (!progress) return;
    progressShown = true;
    progressWidth = text.size();
}

// Main thread, lock held.
void DeliverLocked() {
    while (!handedOver.empty()) {
        const HandedOver next = std::move(handedOver.front());
        handedOver.pop_front();
        if (next.kind == HandedOver::Report)
            WritePanel(next.code, next.text, next.cause);
        else
            WriteText(next.text, next.kind == HandedOver::Progress);
    }
}

// Any thread: text written now, or behind the reports still waiting for the main thread.
void WriteInOrder(std::string_view text, bool progress) {
    std::lock_guard lock(reportLock);
    if (OnMainThread()) {
        DeliverLocked();
        WriteText(text, progress);
    } else if (!handedOver.empty()) {
        handedOver.push_back(HandedOver{progress ? HandedOver::Progress : HandedOver::Text, 0,
                                        std::string(text)});
    } else {
        WriteText(text, progress);
    }
}

// Any thread: the progress line drawn again, at most every kProgressRedrawMs but always at the
// transfer's first step and, when the size is known, its last.
void DrawProgress(std::uint32_t done, std::uint32_t total, bool sized) {
    if (!io->errIsTerminal) return;
    const auto now = static_cast<std::int64_t>(plat::MonotonicMs());
    {
        std::lock_guard lock(reportLock);
        const bool last = sized && done >= total;
        if (progressDrawnAt >= 0 && now - progressDrawnAt < kProgressRedrawMs && !last) return;
        progressDrawnAt = now;
    }
    WriteInOrder(ProgressLine(done, total, sized), true);
}

}  // namespace

void StartCliReporting(const CliIo& newIo, bool quiet, bool verbose) {
    std::lock_guard lock(reportLock);
    io = &newIo;
    quietErrors = quiet;
    verboseErrors = verbose;
    lastCause = {};
    failureTexts.clear();
    mainThread = std::this_thread::get_id();
    lastError = 0;
    lastPanel.clear();
    progressShown = false;
    progressWidth = 0;
    progressDrawnAt = -1;
    bytesReceived = 0;
    handedOver.clear();
    socketFailure = {};
}

void DeliverHandedOverReports() {
    std::lock_guard lock(reportLock);
    DeliverLocked();
}

int LastReportedError() {
    std::lock_guard lock(reportLock);
    DeliverLocked();
    return lastError;
}

const char* LastReportedPanel() {
    std::lock_guard lock(reportLock);
    DeliverLocked();
    return lastPanel.c_str();
}

FailureCause LastReportedCause() {
    std::lock_guard lock(reportLock);
    DeliverLocked();
    return lastCause;
}

void KeepFailureText(std::string_view text) {
    std::lock_guard lock(reportLock);
    DeliverLocked();
    KeepFailureTextLocked(text);
}

std::string ReportedFailureTexts() {
    std::lock_guard lock(reportLock);
    DeliverLocked();
    return failureTexts;
}

SocketSetupFailure LastSocketSetupFailure() {
    std::lock_guard lock(reportLock);
    return socketFailure;
}

void FinishProgressLine() {
    std::lock_guard lock(reportLock);
    DeliverLocked();
    if (progressShown) io->writeErr("\r" + std::string(progressWidth, ' ') + "\r");
    progressShown = false;
    progressDrawnAt = -1;  // the next transfer's first step is drawn at once
}

void WriteDiagnostic(std::string_view text) { WriteInOrder(text, false); }

bool CliReportError(int code, const void* detail) {
    // Before anything else can overwrite this thread's socket error.
    const bool story = code == ERR_FOREIGN_TFTP_REQUEST;
    const FailureCause cause = !story && detail != nullptr
                                   ? *static_cast<const FailureCause*>(detail)
                                   : FailureCause{};
    SocketSetupFailure failure =
        DescribeSocketSetupFailure(code, plat::LastSocketError(), &cause);
    const std::string told =
        story && detail != nullptr ? std::string(static_cast<const char*>(detail)) : std::string();
    std::lock_guard lock(reportLock);
    if (failure.event != 0) socketFailure = std::move(failure);
    if (OnMainThread()) {
        DeliverLocked();
        WritePanel(code, told, cause);
    } else {
        handedOver.push_back(HandedOver{HandedOver::Report, code, told, cause});
    }
    return true;
}

bool CliReportStatus(int code, const void* detail) {
    if (code != STATUS_PROGRESS || detail == nullptr) return true;
    const auto& progress = *static_cast<const TransferProgress*>(detail);
    DrawProgress(progress.Done, progress.Total, true);
    return true;
}

int CliUploadConfig(const std::uint8_t* bytes, int count, std::uint32_t* written,
                    int packetLength, int blockNumber) {
    const int stored = UploadConfig(bytes, count, written, packetLength, blockNumber);
    if (stored == 0 || packetLength == 0) return stored;
    if (blockNumber == 1) bytesReceived = 0;
    const std::uint32_t received = bytesReceived += static_cast<std::uint32_t>(std::max(count, 0));
    DrawProgress(received, 0, false);
    return stored;
}
