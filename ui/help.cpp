#include "ui/help.h"

#include <shellapi.h>

#include <string>

#include "platform/dialog_toolkit.h"

namespace {

bool OpenWithSystemViewer(HWND owner, const char* path) {
    const auto result = reinterpret_cast<INT_PTR>(
        ::ShellExecuteA(owner, "open", path, nullptr, nullptr, SW_SHOWNORMAL));
    return result > 32;
}

HelpViewer viewer = OpenWithSystemViewer;

}  // namespace

std::string HelpFilePath() {
    char module[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameA(nullptr, module, MAX_PATH);
    std::string path(module, length < MAX_PATH ? length : 0);
    const std::size_t slash = path.find_last_of("\\/");
    path.erase(slash == std::string::npos ? 0 : slash + 1);
    return path + kHelpFileName;
}

void SetHelpViewer(HelpViewer newViewer) {
    viewer = newViewer ? newViewer : OpenWithSystemViewer;
}

void OpenHelp(HWND owner) {
    const std::string path = HelpFilePath();
    if (viewer(owner, path.c_str())) return;
    const std::string text = "The help file could not be opened:\r\n" + path +
                             "\r\nIt belongs in the folder of morvane.exe.";
    plat::Toolkit().ShowMessageBox(owner, text.c_str(), "Morvane Help",
                                   plat::kMbOk | plat::kMbIconError, 0);
}
