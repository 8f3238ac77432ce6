#include "cli/cli_reporting.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>

#include "app/panel_texts.h"
#include "spine/events.h"
#include "spine/shared_state.h"

namespace {

const CliIo* io = nullptr;
bool quietErrors = false;
std::atomic<int> lastError{0};
std::mutex reportLock;
std::string lastPanel;
bool progressShown = false;

void DrawProgress(const TransferProgress& p) {
    constexpr int kWidth = 30;
    const std::uint32_t done = std::min(p.Done, p.Total);
    const int percent = p.Total == 0 ? 100 : static_cast<int>(100.0 * done / p.Total);
    const int filled = percent * kWidth / 100;
    char line[96];
    std::snprintf(line, sizeof line, "\r[%-*s] %3d%% %u/%u bytes", kWidth,
                  std::string(static_cast<std::size_t>(filled), '#').c_str(), percent, done,
                  p.Total);
    io->writeErr(line);
    progressShown = true;
}

}  // namespace

void StartCliReporting(const CliIo& newIo, bool quiet) {
    io = &newIo;
    quietErrors = quiet;
    lastError = 0;
    lastPanel.clear();
    progressShown = false;
}

int LastReportedError() { return lastError.load(); }

const char* LastReportedPanel() { return lastPanel.c_str(); }

void FinishProgressLine() {
    std::lock_guard lock(reportLock);
    if (progressShown) io->writeErr("\n");
    progressShown = false;
}

bool CliReportError(int code, const void*) {
    const std::string panel =
        ComposePanelText(code, ConnectionSettings.Host, ConnectionSettings.UserName);
    if (panel.empty()) return true;
    std::lock_guard lock(reportLock);
    lastError = code;
    lastPanel = panel;
    if (progressShown) io->writeErr("\n");
    progressShown = false;
    if (!quietErrors) io->writeErr(panel + "\n");
    return true;
}

bool CliReportStatus(int code, const void* detail) {
    if (code != STATUS_PROGRESS || detail == nullptr || !io->errIsTerminal) return true;
    std::lock_guard lock(reportLock);
    DrawProgress(*static_cast<const TransferProgress*>(detail));
    return true;
}
