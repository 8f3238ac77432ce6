#include "dialog_harness.h"

#include <gtest/gtest.h>

#include "app/config_file_hooks.h"
#include "platform/win32/win32_dialog_toolkit.h"
#include "spine/transfer_hooks.h"
#include "ui/main_dialog.h"
#include "ui/resource_ids.h"

namespace win32_testing {
namespace {

testing_support::ScriptedDialog script;
std::function<void(HWND)> pendingScript;
UINT_PTR scriptTimer = 0;

void CALLBACK RunPendingScript(HWND, UINT, UINT_PTR id, DWORD) {
    ::KillTimer(nullptr, id);
    const HWND dialog = MainDialogHandle;
    ASSERT_NE(dialog, nullptr);
    const auto run = std::move(pendingScript);
    pendingScript = nullptr;
    run(dialog);
    // Harmless when the script already ended the dialog: the window is gone with its queue.
    ::PostMessageA(dialog, WM_COMMAND, IDOK, 0);
}

}  // namespace

testing_support::ScriptedDialog& ResetDialogScript() {
    script = testing_support::ScriptedDialog{};
    ModuleInstance = ::GetModuleHandleA(nullptr);
    RegisterTransferHooks(CheckFilename, DownloadConfig, UploadConfig, ReportError, ReportStatus);
    testing_support::InstallScriptedDialog(script);
    plat::DialogToolkit mixed = plat::Toolkit();
    const plat::DialogToolkit& real = plat::Win32DialogToolkit();
    mixed.GetFieldText = real.GetFieldText;
    mixed.SetFieldText = real.SetFieldText;
    mixed.FocusControl = real.FocusControl;
    plat::RegisterDialogToolkit(mixed);
    return script;
}

int RunWithScript(const std::function<int()>& runModal, const std::function<void(HWND)>& body) {
    MainDialogHandle = nullptr;
    pendingScript = body;
    scriptTimer = ::SetTimer(nullptr, 0, 1, RunPendingScript);
    const int result = runModal();
    if (pendingScript) {
        ::KillTimer(nullptr, scriptTimer);
        pendingScript = nullptr;
        ADD_FAILURE() << "the dialog ended before the script ran";
    }
    MainDialogHandle = nullptr;
    return result;
}

int RunMainDialog(ConnectionSettingsRecord* settings, const std::function<void(HWND)>& body) {
    return RunWithScript(
        [settings] {
            return static_cast<int>(
                ::DialogBoxParamA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_MAIN_DIALOG),
                                  nullptr, MainDialogProc, reinterpret_cast<LPARAM>(settings)));
        },
        body);
}

void PumpMessages(HWND dialog) {
    MSG message;
    while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (::IsWindow(dialog) && ::IsDialogMessageA(dialog, &message)) continue;
        ::TranslateMessage(&message);
        ::DispatchMessageA(&message);
    }
}

void PressKey(HWND dialog, UINT key) {
    ::PostMessageA(::GetFocus(), WM_KEYDOWN, key, 1);
    PumpMessages(dialog);
}

void Click(HWND dialog, int id) {
    ::SendMessageA(::GetDlgItem(dialog, id), BM_CLICK, 0, 0);
    PumpMessages(dialog);
}

std::string ControlText(HWND dialog, int id) {
    char text[1024] = {};
    ::GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

bool IsShown(HWND dialog, int id) {
    return (::GetWindowLongA(::GetDlgItem(dialog, id), GWL_STYLE) & WS_VISIBLE) != 0;
}

bool IsEnabled(HWND dialog, int id) {
    return ::IsWindowEnabled(::GetDlgItem(dialog, id)) != 0;
}

}  // namespace win32_testing
