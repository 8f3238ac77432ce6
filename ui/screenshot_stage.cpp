// morvane-screenshot-stage.exe: opens the real dialog for the README's pictures and ends itself.
//   morvane-screenshot-stage.exe RECT-FILE SECONDS [ERROR-CODE] -s HOST
// Once the dialog has shown (and, with ERROR-CODE, its error panel), its window rectangle is
// written to RECT-FILE as "left top right bottom"; SECONDS later the dialog closes.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "spine/shared_state.h"
#include "ui/main_dialog.h"
#include "ui/morvane_start.h"

namespace {

std::string rectFile;
int errorCode = 0;
int seconds = 5;

void CALLBACK CloseDialog(HWND, UINT, UINT_PTR id, DWORD) {
    ::KillTimer(nullptr, id);
    ::PostMessageA(MainDialogHandle, WM_COMMAND, IDCANCEL, 0);
}

void CALLBACK TellRectangle(HWND, UINT, UINT_PTR id, DWORD) {
    ::KillTimer(nullptr, id);
    RECT rect{};
    ::GetWindowRect(MainDialogHandle, &rect);
    if (FILE* out = std::fopen(rectFile.c_str(), "w")) {
        std::fprintf(out, "%ld %ld %ld %ld\n", rect.left, rect.top, rect.right, rect.bottom);
        std::fclose(out);
    }
    ::SetTimer(nullptr, 0, static_cast<UINT>(seconds) * 1000u, CloseDialog);
}

void CALLBACK SetStage(HWND, UINT, UINT_PTR id, DWORD) {
    ::KillTimer(nullptr, id);
    if (errorCode != 0) ReportError(errorCode, nullptr);
    ::SetTimer(nullptr, 0, 700, TellRectangle);  // time to paint
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
    if (__argc < 3) return 2;
    rectFile = __argv[1];
    seconds = std::atoi(__argv[2]);
    if (__argc > 3) errorCode = std::atoi(__argv[3]);
    ::SetTimer(nullptr, 0, 300, SetStage);
    return RunMorvane(instance, commandLine);
}
