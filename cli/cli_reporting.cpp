#include "cli/cli_reporting.h"

#include <algorithm>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "app/panel_texts.h"
#include "platform/net.h"
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
std::deque<HandedOver> handedOver;
SocketSetupFailure socketFailure;

bool OnMainThread() { return std::this_thread::get_id() == mainThread; }

std::string ProgressLine(const TransferProgress& p) {
    constexpr int kWidth = 30;
    const std::uint32_t done = std::min(p.Done, p.Total);
    const int percent = p.Total == 0 ? 100 : static_cast<int>(100.0 * done / p.Total);
    const int filled = percent * kWidth / 100;
    char line[96];
    std::snprintf(line, sizeof line, "\r[%-*s] %3d%% %u/%u bytes", kWidth,
                  std::string(static_cast<std::size_t>(filled), '#').c_str(), percent, done,
                  p.Total);
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
    if (progress) progressShown = true;
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
    if (progressShown) io->writeErr("\n");
    progressShown = false;
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
    if (code != STATUS_PROGRESS || detail == nullptr || !io->errIsTerminal) return true;
    WriteInOrder(ProgressLine(*static_cast<const TransferProgress*>(detail)), true);
    return true;
}
