#include "platform/win32/win32_dialog_toolkit.h"

#include <windows.h>
// The common dialogs need windows.h first.
#include <commdlg.h>

namespace plat {
namespace {

HWND Window(WindowRef w) {
    return static_cast<HWND>(w);
}

int GetFieldText(WindowRef window, int id, char* text, int maxCount) {
    if (maxCount <= 0) return 0;
    text[0] = '\0';
    return static_cast<int>(::GetDlgItemTextA(Window(window), id, text, maxCount));
}

bool SetFieldText(WindowRef window, int id, const char* text) {
    return ::SetDlgItemTextA(Window(window), id, text) != 0;
}

void FocusControl(WindowRef window, int id) {
    ::SetFocus(::GetDlgItem(Window(window), id));
}

int ShowMessageBox(WindowRef owner, const char* text, const char* caption, unsigned flags, int) {
    return ::MessageBoxA(Window(owner), text, caption, flags);
}

void SoundBeep(unsigned type) {
    ::MessageBeep(type);
}

bool RunFileDialog(WindowRef owner, const FileDialogSettings& settings, char* path,
                   std::size_t capacity) {
    if (capacity == 0) return false;
    path[0] = '\0';
    OPENFILENAMEA dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = Window(owner);
    dialog.lpstrFilter = settings.filter;
    dialog.nFilterIndex = static_cast<DWORD>(settings.filterIndex);
    dialog.lpstrFile = path;
    dialog.nMaxFile = static_cast<DWORD>(capacity);
    dialog.lpstrTitle = settings.title;
    dialog.lpstrDefExt = settings.defaultExtension;
    dialog.Flags = settings.flags;
    const BOOL chosen = settings.save ? ::GetSaveFileNameA(&dialog) : ::GetOpenFileNameA(&dialog);
    if (!chosen) path[0] = '\0';
    return chosen != 0;
}

constexpr DialogToolkit kWin32Toolkit{GetFieldText,   SetFieldText, FocusControl,
                                      ShowMessageBox, SoundBeep,    RunFileDialog};

}  // namespace

const DialogToolkit& Win32DialogToolkit() {
    return kWin32Toolkit;
}

}  // namespace plat
