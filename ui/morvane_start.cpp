#include "ui/morvane_start.h"

#include <commctrl.h>

#include "app/config_file_hooks.h"
#include "app/startup.h"
#include "platform/win32/win32_dialog_toolkit.h"
#include "spine/shared_state.h"
#include "spine/transfer_hooks.h"
#include "ui/main_dialog.h"
#include "ui/resource_ids.h"

int RunMorvane(HINSTANCE instance, const char* commandLine) {
    ModuleInstance = instance;
    ::InitCommonControls();
    RegisterTransferHooks(CheckFilename, DownloadConfig, UploadConfig, ReportError, ReportStatus);
    ApplyStartupSettings(commandLine);
    plat::RegisterDialogToolkit(plat::Win32DialogToolkit());
    return static_cast<int>(::DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_MAIN_DIALOG), nullptr,
                                              MainDialogProc,
                                              reinterpret_cast<LPARAM>(&ConnectionSettings)));
}
